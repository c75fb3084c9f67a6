// The handle behind the untyped pointer that callers hold.
#pragma once

#include <cstdint>

typedef struct _tag_zvfec {
  int32_t initlized;  // non-zero once set up by zv_rsfec_initilize
  int32_t type;       // _zv_fec_type_e as passed by the caller
  int32_t ver;        // _zv_fec_version_e as passed by the caller
} zv_rsfec_obj;

namespace zv {

// Encode and decode accept any pointer a caller passes; a null handle counts as
// not initialised.
inline bool handle_ready(const void *handle) {
  return handle != nullptr && static_cast<const zv_rsfec_obj *>(handle)->initlized != 0;
}

}  // namespace zv
