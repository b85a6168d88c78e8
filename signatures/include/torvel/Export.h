#pragma once

// The library is built with hidden visibility; only what carries this mark is
// part of libtorvel.so.3's interface.
#define TORVEL_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
#define TORVEL_EXTERN_C_BEGIN extern "C" {
#define TORVEL_EXTERN_C_END }
#else
#define TORVEL_EXTERN_C_BEGIN
#define TORVEL_EXTERN_C_END
#endif
