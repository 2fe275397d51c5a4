#include "service/refresh_schedule.hpp"

#include <algorithm>

namespace {

constexpr std::int64_t kFirstRetryUs = 1000000;

}  // namespace

std::int64_t RefreshSchedule::afterConfirmed(std::int64_t nowUs) {
  retryUs_ = 0;
  const std::int64_t earliest = nowUs + intervalUs_ / 2;
  const std::int64_t past = ((earliest - phaseUs_) % intervalUs_ + intervalUs_) % intervalUs_;
  std::int64_t due = earliest - past;
  if (due < earliest)
    due += intervalUs_;
  return due;
}

std::int64_t RefreshSchedule::afterFailed(std::int64_t nowUs) {
  retryUs_ = retryUs_ == 0 ? kFirstRetryUs : retryUs_ * 2;
  retryUs_ = std::min(retryUs_, intervalUs_);
  return nowUs + retryUs_;
}
