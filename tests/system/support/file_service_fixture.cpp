#include "support/file_service_fixture.h"

#include "support/proxy_process.h"

namespace filetest {

std::string successXml(const std::string& payload) {
  return "<Varlume><ErrorCode> 0 </ErrorCode><ErrorReason>Success</ErrorReason><VarlumeFile>" + payload +
         "</VarlumeFile></Varlume>";
}

std::string errorXml(const std::string& code, const std::string& reason) {
  return "<Varlume><ErrorCode>" + code + "</ErrorCode><ErrorReason>" + reason +
         "</ErrorReason><VarlumeFile></VarlumeFile></Varlume>";
}

std::string multipartBody(const std::string& boundary, const std::vector<Upload>& uploads) {
  std::string body;
  for (const Upload& upload : uploads) {
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
            upload.fileName + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + upload.bytes + "\r\n";
  }
  body += "--" + boundary + "--\r\n";
  return body;
}

void FileServiceTest::SetUp() {
  port = proxytest::freeServicesBase({0});
  ASSERT_GT(port, 0);
  const sandbox::VLSandboxUser& user = box.user(0);
  documents_ = documentsFolder();
  if (documents_ != user.documents) service.overrideEnvironment("VARLUME_DOCUMENTS_DIR=" + documents_);
  data_ = documents_ + "/Varlume";
  temp_ = user.localAppData + "/Varlume/Temp";
  config_ = user.localAppData + "/Varlume/varlume.config";
  ASSERT_TRUE(service.start(box, "varlumefile", port, port)) << service.output();
}

HttpResponse FileServiceTest::request(const std::string& method, const std::string& target,
                                      const std::string& host, const std::string& extraHead,
                                      const std::string& body, int timeoutMs) {
  testsupport::LoopbackClient client(port);
  std::string bytes = method + " " + target + " HTTP/1.1\r\nHost: " + host + "\r\n" + extraHead;
  if (!body.empty() || method == "POST") bytes += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  bytes += "\r\n" + body;
  HttpResponse response;
  EXPECT_TRUE(client.send(bytes));
  EXPECT_TRUE(client.readResponse(response, method == "HEAD", timeoutMs)) << method << " " << target;
  return response;
}

HttpResponse FileServiceTest::upload(const std::string& target, const std::vector<Upload>& uploads,
                                     const std::string& host) {
  const std::string boundary = "----vlBoundary7MA4YWxkTrZu0gW";
  return request("POST", target, host, "Content-Type: multipart/form-data; boundary=" + boundary + "\r\n",
                 multipartBody(boundary, uploads));
}

std::vector<std::string> FileServiceTest::leftTempFiles() const {
  std::vector<std::string> left;
  for (const std::string& name : sandbox::folderNames(temp_)) {
    if (name.size() > 7 && name.compare(name.size() - 7, 7, ".vlfile") == 0) left.push_back(name);
  }
  return left;
}

void FileServiceTest::expectNoTempFilesLeft() const {
  std::vector<std::string> left;
  EXPECT_TRUE(sandbox::waitUntil(
      [&] {
        left = leftTempFiles();
        return left.empty();
      },
      5000))
      << left.size() << " left, first " << left.front();
}

}  // namespace filetest
