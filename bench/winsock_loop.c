/* The bare Winsock download the Windows program is measured against: one blocking socket, a GET over HTTP/1.0
 * to 127.0.0.1, then recv into one 32 KiB buffer until the server closes, each piece written to a file. No
 * parsing beyond finding the end of the header block, no window, no waits: the most a Windows program can
 * get from the socket layer it runs on (under Wine, from Wine's).
 *
 * Usage: winsock_loop PORT PATH OUTPUT
 * Prints "bytes=N seconds=S" (N counts the body only; S from the request on). */
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: winsock_loop PORT PATH OUTPUT\n");
    return 2;
  }
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  struct sockaddr_in peer;
  memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = htons((u_short)atoi(argv[1]));
  peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  HANDLE out = CreateFileA(argv[3], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (s == INVALID_SOCKET || out == INVALID_HANDLE_VALUE) return 1;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (connect(s, (struct sockaddr*)&peer, sizeof peer) != 0) return 1;
  char request[512];
  int length = snprintf(request, sizeof request, "GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", argv[2]);
  if (send(s, request, length, 0) != length) return 1;
  static char buffer[32768];
  long long body = 0;
  int inHeader = 1;
  int matched = 0; /* bytes of "\r\n\r\n" seen at the end of the header block so far */
  for (;;) {
    int n = recv(s, buffer, sizeof buffer, 0);
    if (n < 0) return 1;
    if (n == 0) break;
    int from = 0;
    while (inHeader && from < n) {
      const char c = buffer[from++];
      matched = c == "\r\n\r\n"[matched] ? matched + 1 : (c == '\r' ? 1 : 0);
      if (matched == 4) inHeader = 0;
    }
    DWORD written;
    if (n > from && (!WriteFile(out, buffer + from, (DWORD)(n - from), &written, NULL) || written != (DWORD)(n - from)))
      return 1;
    body += n - from;
  }
  CloseHandle(out);
  QueryPerformanceCounter(&end);
  closesocket(s);
  WSACleanup();
  printf("bytes=%lld seconds=%.6f\n", body, (double)(end.QuadPart - start.QuadPart) / frequency.QuadPart);
  return 0;
}
