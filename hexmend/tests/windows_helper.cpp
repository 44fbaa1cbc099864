// A helper for the end-to-end cases of the Windows build. It runs beside
// hexmend.exe (under the same wine server when tested on Linux):
//
//   windows_helper hold MODE PATH   opens PATH for reading (MODE "read") or
//                                   writing (MODE "write"), letting others
//                                   read and write it but not delete or
//                                   replace it; writes "ready" to standard
//                                   output and holds the file open until
//                                   standard input is closed
//
// Exit codes: 0 done, 1 the file could not be opened, 2 usage.

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

void WaitForEndOfInput() {
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    char buf[256];
    DWORD got = 0;
    while (::ReadFile(in, buf, sizeof buf, &got, nullptr) && got > 0) {
    }
}

int Hold(const char* mode, const char* path) {
    DWORD access = 0;
    if (std::strcmp(mode, "read") == 0) {
        access = GENERIC_READ;
    } else if (std::strcmp(mode, "write") == 0) {
        access = GENERIC_WRITE;
    } else {
        std::fprintf(stderr, "windows_helper: unknown mode %s\n", mode);
        return 2;
    }
    const HANDLE file = ::CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "windows_helper: cannot open %s: error %lu\n", path,
                     static_cast<unsigned long>(::GetLastError()));
        return 1;
    }
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    WaitForEndOfInput();
    ::CloseHandle(file);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "hold") == 0) {
        return Hold(argv[2], argv[3]);
    }
    std::fputs("usage: windows_helper hold read|write PATH\n", stderr);
    return 2;
}
