// Stands in for the build command in the tests: writes the command line it was started with and
// its working folder, one a line, to record.txt in that folder. It pauses first, so that a caller
// that does not wait finds no record yet.
#include <windows.h>

#include <cstdio>

int main() {
    Sleep(500);
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, folder);
    std::FILE* record = std::fopen("record.txt", "wb");
    if (!record) {
        return 1;
    }
    std::fprintf(record, "%s\n%s\n", GetCommandLineA(), folder);
    return std::fclose(record) == 0 ? 0 : 1;
}
