// The exceptions of the bitmap lists: a damaged or foreign list stream, and a
// picture that is not a bitmap this program can read.
#pragma once

#include "stream/errors.h"

namespace velmar {

class EStreamError : public EMMError {
 public:
  using EMMError::EMMError;
};

class EInvalidGraphic : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

}  // namespace velmar
