// The library's exception classes: one per component family, all derived from
// EMMError. Each carries its message text exactly as reported.
#pragma once

#include <stdexcept>
#include <string>

namespace velmar {

class EMMError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EMMWaveInError : public EMMError {
 public:
  using EMMError::EMMError;
};
class EMMWaveOutError : public EMMError {
 public:
  using EMMError::EMMError;
};
class EMMHiTimerError : public EMMError {
 public:
  using EMMError::EMMError;
};
class EMMWaveError : public EMMError {
 public:
  using EMMError::EMMError;
};
class EMMConverterError : public EMMError {
 public:
  using EMMError::EMMError;
};
class EMMADPCMError : public EMMError {
 public:
  using EMMError::EMMError;
};
class EMMLevelError : public EMMError {
 public:
  using EMMError::EMMError;
};
class EMMConnectorError : public EMMError {
 public:
  using EMMError::EMMError;
};
class EMMDIBError : public EMMError {
 public:
  using EMMError::EMMError;
};

}  // namespace velmar
