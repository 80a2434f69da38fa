#pragma once
// The player SDK: decodes a live stream and draws it into a native window.
// One port (0) serves the whole program. 0 = failure for the calls whose
// result is read.

#include <cstdint>

#ifdef __cplusplus
extern "C" {
#endif

// Decoded frame: (port, data, size, width, height, timestamp, type, user).
typedef void (*PlaySdkDecodeCallback)(int32_t port, char *frame, int32_t size, int32_t width,
                                      int32_t height, int32_t timestamp, int32_t type,
                                      void *user);

int32_t PlaySdk_OpenStream(int32_t port, const char *header, int32_t headerSize,
                           int32_t bufferSize);
// window: the native window handle (WId) of the view to draw into.
int32_t PlaySdk_Play(int32_t port, uintptr_t window);
int32_t PlaySdk_SetDecodeCallback(int32_t port, PlaySdkDecodeCallback callback, void *user);
int32_t PlaySdk_InputData(int32_t port, const char *data, int32_t length);
int32_t PlaySdk_Stop(int32_t port);
int32_t PlaySdk_CloseStream(int32_t port);

#ifdef __cplusplus
}
#endif
