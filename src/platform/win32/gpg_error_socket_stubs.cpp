// libgpg-error (under libgcrypt, which checks archive signatures) can log to and stream over sockets, so its
// static library refers to eight Windows Sockets functions through import pointers. This program binds
// "WS2_32.DLL" at run time only (sockets_win32.cpp), and must not import it at load time because of a
// library feature it never uses. These import pointers satisfy the references with functions that fail:
// nothing in the program reaches them.
#include <cstdint>

namespace {

constexpr intptr_t kInvalidSocket = -1;
constexpr int kSocketError = -1;

intptr_t __stdcall NoSocket(int, int, int) { return kInvalidSocket; }
int __stdcall NoClose(intptr_t) { return kSocketError; }
int __stdcall NoConnect(intptr_t, const void*, int) { return kSocketError; }
int __stdcall NoIoctl(intptr_t, long, unsigned long*) { return kSocketError; }
int __stdcall NoTransfer(intptr_t, void*, int, int) { return kSocketError; }
unsigned long __stdcall NoAddress(const char*) { return 0xFFFFFFFFul; }  // INADDR_NONE
unsigned short __stdcall SwapShort(unsigned short value) {
  return static_cast<unsigned short>((value >> 8) | (value << 8));
}

}  // namespace

// The names are the import pointers' own: on i386 with the decoration of __stdcall (a leading underscore, "@"
// and the argument bytes), on x86_64 plain.
#ifdef __i386__
#define IMPORT_NAME(name, argumentBytes) "__imp__" #name "@" #argumentBytes
#else
#define IMPORT_NAME(name, argumentBytes) "__imp_" #name
#endif

extern "C" {
void* g_importSocket __asm__(IMPORT_NAME(socket, 12)) = reinterpret_cast<void*>(&NoSocket);
void* g_importClose __asm__(IMPORT_NAME(closesocket, 4)) = reinterpret_cast<void*>(&NoClose);
void* g_importConnect __asm__(IMPORT_NAME(connect, 12)) = reinterpret_cast<void*>(&NoConnect);
void* g_importIoctl __asm__(IMPORT_NAME(ioctlsocket, 12)) = reinterpret_cast<void*>(&NoIoctl);
void* g_importRecv __asm__(IMPORT_NAME(recv, 16)) = reinterpret_cast<void*>(&NoTransfer);
void* g_importSend __asm__(IMPORT_NAME(send, 16)) = reinterpret_cast<void*>(&NoTransfer);
void* g_importAddress __asm__(IMPORT_NAME(inet_addr, 4)) = reinterpret_cast<void*>(&NoAddress);
void* g_importHtons __asm__(IMPORT_NAME(htons, 4)) = reinterpret_cast<void*>(&SwapShort);
}
