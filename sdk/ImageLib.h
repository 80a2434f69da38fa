#pragma once
// The image library used by the logo builder. C calling convention; every
// path is a NUL-terminated string of at most 255 bytes.

#include <cstdint>

#ifdef __cplusplus
extern "C" {
#endif

enum { IMAGELIB_PATH_SIZE = 256 };

// 0 = success.
int32_t MakeCramFS(const char *sourcePattern, const char *outputFile);
int32_t MakeImage(const char *inputImage, const char *outputImage, uint32_t startAddress,
                  uint32_t endAddress);
int32_t MakeZipFile(const char *folder, const char *outputZip);

#ifdef __cplusplus
}
#endif
