// Holds a file open the way Windows holds a running program's own .exe:
// others may read it, none may write, rename or delete it. Prints "held"
// once it has it, and lets go when the file named second exists (or after
// two minutes, so a test that fails never leaves it behind).
//   hold_file FILE RELEASE
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    const HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold_file: cannot open it (error %lu)\n", GetLastError());
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    for (int i = 0; i < 1200 && GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(100);
    CloseHandle(file);
    return 0;
}
