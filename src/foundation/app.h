// VLApp: the one application object of a program (the global `vlApp`, built
// during static initialisation with 3 mutexes): version text, program name
// and the process-wide mutex set. `main` is declared here and defined once by
// each program in one of its own sources. VLAppLock holds one of the app's
// mutexes for a scope.
#pragma once
#include <string>

#include "foundation/mutex_set.h"

class VLApp {
 public:
  // version "1.0", empty name, a new mutex set of mutexCount (null when it
  // cannot be allocated).
  explicit VLApp(int mutexCount);
  // Frees the mutex set, except for the global object: detached threads may
  // still take its mutexes while the process ends.
  virtual ~VLApp();
  VLApp(const VLApp&) = delete;
  VLApp& operator=(const VLApp&) = delete;

  // The program's main; each program links its own definition.
  virtual int main(int argc, char** argv);
  // Does nothing; no signal is routed here.
  virtual void onSignal(int signal);

  std::string getAppName() const;
  std::string getAppVersion() const;
  void setAppName(const std::string& name);
  void setAppVersion(const std::string& version);

  // 0 when there is no mutex set; otherwise the set's lock / unlock, and 1.
  int lock(int index);
  int unlock(int index);

  // The programs keep no log level: always 0, and setting does nothing.
  int getLogLevel() const;
  void setLogLevel(int level);

  VLMutexSet* mutexSet() const { return mutexSet_; }

 private:
  std::string version_;
  VLMutexSet* mutexSet_ = nullptr;
  std::string name_;
};

// The program's one application object.
extern VLApp vlApp;

// Locks mutex `index` of vlApp for the guard's lifetime.
class VLAppLock {
 public:
  explicit VLAppLock(int index) : index_(index) { vlApp.lock(index_); }
  ~VLAppLock() { vlApp.unlock(index_); }
  VLAppLock(const VLAppLock&) = delete;
  VLAppLock& operator=(const VLAppLock&) = delete;

 private:
  int index_;
};
