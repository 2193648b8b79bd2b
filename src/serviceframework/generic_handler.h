// VLGenericHandler: one slot of a service's pool of 50 handlers. It serves one
// accepted loopback connection at a time on a thread of its own: readRequest
// fills the request fields, serviceRequest answers (the base sends a fixed
// page), reset clears the fields and removes the request's temporary files.
// The accept thread changes a handler only while its busy flag is clear and
// no body of its thread is active; the handler's thread closes the
// connection and then clears the flag as the last thing it does with it.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/object.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "serviceframework/parameter_text.h"
#include "serviceframework/uploaded_file.h"

class VLGenericServer;

class VLGenericHandler : public VLObject {
 public:
  // The wait for each byte of a request. Ten silent waits in a row end a
  // kept-alive connection, which is what every reply's "timeout=100" says.
  static constexpr int kDefaultByteWaitMilliseconds = 10000;
  static constexpr int kMaxFailedReads = 10;

  // Limits of one request.
  static constexpr int kMaxHeaderLines = 100;             // request and empty line included
  static constexpr std::size_t kMaxHeaderLineBytes = 65534;  // before the line feed
  static constexpr std::size_t kMaxBoundaryBytes = 4093;
  // Bound of the text a request puts into its parameters (form body,
  // multipart fields) together with its upload records; a form body beyond
  // it is not taken. Values longer than kWindowBytes stay in the body file.
  static constexpr std::size_t kMaxParameterBytes = 64u * 1024u * 1024u;
  static constexpr int kMaxMultipartParts = 10000;
  static constexpr std::size_t kWindowBytes = 65536;  // body files are read and written in these

  explicit VLGenericHandler(int byteWaitMilliseconds = kDefaultByteWaitMilliseconds);
  ~VLGenericHandler() override;

  // The connection loop: requests until ten failed reads in a row, a failed
  // read inside a request or a refused head, or a connection closed by a
  // send; then reset, a graceful close, and busy := 0.
  void run() override;
  // Answers the request in the fields with one reply and calls reset.
  virtual void serviceRequest();
  // Extension of this handler's temporary files: ".vlm" here.
  virtual std::string tempFileExtension() const;

  // Pool protocol (used by the accept thread while the handler is free).
  void setBusy(bool busy);
  bool isBusy() const;
  void setServer(VLGenericServer* server);
  VLGenericServer* getServer() const { return server; }
  // Closes the connection held, if any, and holds `socket` instead.
  void adoptSocket(platform::Socket socket);
  // The first part of this handler's temporary names: its pool slot.
  void setTempId(int id) { tempId = id; }
  int getTempId() const { return tempId; }

  // Request reading. 1: a request is in the fields. 0: the connection was
  // closed, a receive failed or the request was refused. -1: no byte came
  // within the byte wait. After 0 or -1, connectionSpoilt() tells whether the
  // connection can no longer be kept (bytes of an unanswered request).
  int readRequest();
  bool connectionSpoilt() const { return spoilt; }
  // The method word of a request line in the client's letter case: the
  // longest of GET, POST, HEAD, OPTIONS, PUT, DELETE, TRACE, PROPFIND (tried
  // in this order, compared upper-cased) that starts the line; else empty.
  static std::string parseMethod(const std::string& line);
  // Sets path and parameters from a request line; returns the path.
  std::string parseRequestLine(const std::string& line);
  // A new name in the temporary folder: slot, "_", counter, extension.
  // Every name made is removed again by the next reset.
  std::string makeTempFileName();

  // The request.
  std::string getMethod() const { return method; }
  std::string getHost() const;  // lower-cased
  std::string getPath() const { return path; }
  std::string getSubdomainHome() const { return subdomainHome; }
  std::string getCommonHome() const { return commonHome; }
  // The values of every Origin and Referer line of the request (trimmed), in
  // the order sent; empty when the request had none.
  const std::vector<std::string>& getOrigins() const { return origins; }
  const std::vector<std::string>& getReferers() const { return referers; }
  // Whether the request carried the line only a page's script can send
  // (foundation/script_command.h).
  bool sentByPageScript() const { return scriptCommand; }
  // The raw text after the first "name=" anywhere in the parameters, up to
  // the next "&"; empty when absent.
  std::string getParameter(const std::string& name) const;
  // The same value, left where it is: a long one is read from the body
  // file only when it is used (valid until reset).
  VLParameterValue getParameterValue(const std::string& name) const;
  const std::vector<VLUploadedFile>& getUploadedFiles() const { return uploadedFiles; }
  const std::string& getBodyFile() const { return bodyFile; }

  // Site folders. A request whose Host or home values are not plain folder
  // names (or that sent differing Host lines) is refused: the service answers
  // it with its own error before touching the disk, and domainHomeDirectory
  // is then empty.
  bool isSiteFolderRefused() const;
  std::string domainHomeDirectory() const;
  std::string privilegedDataDirectory() const;

  // Replies: responseHeader, then sendResponse or sendEmptyResponse, then
  // reset. The body is left out only for HEAD.
  void responseHeader(int code, const std::string& reason, const std::string& contentType);
  // Returns the body bytes handed on for sending.
  long sendResponse(const std::string& body);
  int sendEmptyResponse();
  // Removes the body file (on the first call), then sends all bytes. False
  // when they did not all go out; the connection is then closed.
  bool sendAll(const char* data, std::size_t length);
  bool sendAll(const std::string& data) { return sendAll(data.data(), data.size()); }

  // Clears the request fields and removes the request's temporary files;
  // keeps the socket, the server, the busy flag, the slot and the counter.
  void reset();

 protected:
  // The request fields.
  std::string bodyFile;
  std::string boundary;
  std::string method;
  std::string host;
  std::string path;
  std::string parameters;
  std::string responseHead;
  std::vector<VLUploadedFile> uploadedFiles;
  std::string subdomainHome;
  std::string commonHome;
  std::vector<std::string> origins;
  std::vector<std::string> referers;
  bool scriptCommand = false;
  // The values of the parameters that stayed in the body file, in order,
  // and the body file opened for reading them.
  std::vector<VLLongValue> longValues;
  mutable platform::File bodyReader;

  platform::Socket socket = platform::kInvalidSocket;
  VLGenericServer* server = nullptr;

  // Closes the connection at once (a reset, since accepted sockets linger 0).
  void dropConnection();
  // The whole parameter text, long values included, in memory (for
  // diagnostics; commands look values up one by one).
  std::string parameterText() const;

 private:
  // What the head of the current request said, beyond the fields.
  struct HeadNotes {
    bool multipart = false;
    bool hostSeen = false;
    bool hostConflict = false;
    std::string hostValue;
    std::string contentLengthLine;
  };
  enum class BodyResult { Stored, Unreadable, Refused };

  // One byte of the connection, from the receive buffer or a new receive:
  // 1, 0 (closed or failed) or -1 (nothing within the byte wait).
  int receiveByte(char* byte);
  int fillReceiveBuffer();
  // `count` bytes of the body into `file`; `stored` becomes false when the
  // file is not open or a write failed (the bytes are still taken in).
  int receiveBody(std::int64_t count, platform::File& file, bool& stored);
  // False when the line refuses the request.
  bool noteHeaderLine(const std::string& line, HeadNotes& notes);
  // 1 when stored (or no body is read), 0 when refused or closed, -1 on a time-out.
  int storeBody(const std::string& requestLine, const HeadNotes& notes);
  static std::int64_t contentLengthOf(const std::string& line);

  BodyResult appendFormBody();
  BodyResult parseMultipart();
  // Offset of the first `boundary` at or after `offset`, or -1.
  std::int64_t findBoundary(platform::File& file, std::int64_t offset);
  bool storeFilePart(platform::File& body, const std::string& clientName,
                     const std::string& fieldName, std::int64_t start, std::int64_t length);
  BodyResult storeFieldPart(platform::File& body, const std::string& name, const std::string& window,
                            std::int64_t windowStart, std::int64_t start, std::int64_t length);
  bool withinParameterBound(std::size_t moreBytes) const;
  void appendParameter(const std::string& text);
  // Appends "name=" and a field value of the body file, read into memory
  // when it is short, else left there.
  BodyResult appendFieldValue(platform::File& body, const std::string& name, std::int64_t start,
                              std::int64_t length);

  void removeTempFiles();
  void closeGracefully();

  std::atomic<std::uint8_t> busy{0};
  int tempId = 0;
  int tempCounter = 1;
  int byteWaitMilliseconds;
  bool spoilt = false;
  bool bodyFileRemoved = false;
  std::vector<std::string> madeTempFiles;
  std::size_t uploadRecordBytes = 0;

  // Bytes received and not yet read; kept between requests of a connection.
  std::vector<char> receiveBuffer;
  std::size_t receiveStart = 0;
  std::size_t receiveEnd = 0;
};
