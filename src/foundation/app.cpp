#include "foundation/app.h"

#include <new>

VLApp vlApp(3);

VLApp::VLApp(int mutexCount) : version_("1.0") {
  // Built here, not in an initialiser: the set names its mutexes through
  // getAppName(), which needs the name to exist already.
  mutexSet_ = new (std::nothrow) VLMutexSet(mutexCount);
}

VLApp::~VLApp() {
  if (this == &vlApp) return;  // threads may still be locking during exit
  delete mutexSet_;
  mutexSet_ = nullptr;
}

void VLApp::onSignal(int) {}

std::string VLApp::getAppName() const { return name_; }

std::string VLApp::getAppVersion() const { return version_; }

void VLApp::setAppName(const std::string& name) { name_ = name; }

void VLApp::setAppVersion(const std::string& version) { version_ = version; }

int VLApp::lock(int index) {
  if (mutexSet_ == nullptr) return 0;
  mutexSet_->lock(index);
  return 1;
}

int VLApp::unlock(int index) {
  if (mutexSet_ == nullptr) return 0;
  mutexSet_->unlock(index);
  return 1;
}

int VLApp::getLogLevel() const { return 0; }

void VLApp::setLogLevel(int) {}
