#include "support/descriptor_limits.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace limits {

VLDescriptorLimit descriptorLimit(pid_t pid) {
  VLDescriptorLimit limit;
  struct rlimit value;
  if (::prlimit(pid, RLIMIT_NOFILE, nullptr, &value) != 0) return limit;
  limit.soft = static_cast<long>(value.rlim_cur);
  limit.hard = static_cast<long>(value.rlim_max);
  return limit;
}

bool setDescriptorLimit(pid_t pid, long soft, long hard) {
  struct rlimit value;
  value.rlim_cur = static_cast<rlim_t>(soft);
  value.rlim_max = static_cast<rlim_t>(hard);
  return ::prlimit(pid, RLIMIT_NOFILE, &value, nullptr) == 0;
}

int openDescriptors(pid_t pid) {
  std::error_code error;
  std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error);
  if (error) return -1;
  int count = 0;
  for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
    if (error) return -1;
    ++count;
  }
  return count;
}

long processorMilliseconds(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // Fields after the command's closing parenthesis: state is field 3, utime 14, stime 15.
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  long ticks = 0;
  for (int number = 3; number <= 15 && fields >> field; ++number) {
    if (number >= 14) ticks += std::stol(field);
  }
  return ticks * 1000 / ::sysconf(_SC_CLK_TCK);
}

VLLoweredSoftLimit::VLLoweredSoftLimit(long soft) {
  struct rlimit value;
  if (::getrlimit(RLIMIT_NOFILE, &value) != 0) return;
  saved_ = static_cast<long>(value.rlim_cur);
  lowered_ = std::min(soft, static_cast<long>(value.rlim_max));
  value.rlim_cur = static_cast<rlim_t>(lowered_);
  if (::setrlimit(RLIMIT_NOFILE, &value) != 0) lowered_ = saved_;
}

VLLoweredSoftLimit::~VLLoweredSoftLimit() {
  if (saved_ < 0) return;
  struct rlimit value;
  if (::getrlimit(RLIMIT_NOFILE, &value) != 0) return;
  value.rlim_cur = static_cast<rlim_t>(saved_);
  ::setrlimit(RLIMIT_NOFILE, &value);
}

}  // namespace limits
