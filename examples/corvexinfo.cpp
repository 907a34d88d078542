// corvexinfo DLL...: loads each DLL as an application would, says whether
// it loaded, and lists what it exports. For varcon.dll it also prints the
// two version texts it exports as data.
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

// The names in the export directory of a loaded module.
void PrintExports(HMODULE module) {
    const BYTE *base = reinterpret_cast<const BYTE *>(module);
    const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const IMAGE_NT_HEADERS *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (dir.Size == 0) {
        printf("  (no exports)\n");
        return;
    }
    const IMAGE_EXPORT_DIRECTORY *exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + dir.VirtualAddress);
    const DWORD *names = reinterpret_cast<const DWORD *>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) printf("  %s\n", reinterpret_cast<const char *>(base + names[i]));
}

void PrintVersionTexts(HMODULE module) {
    const char *const items[] = {"libvkvarcon_version", "libvkvarcon_build_date"};
    for (const char *item : items) {
        const char *const *text = reinterpret_cast<const char *const *>(GetProcAddress(module, item));
        if (text) printf("  %s = \"%s\"\n", item, *text);
    }
}

}  // namespace

int main(int argc, char **argv) {
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        HMODULE module = LoadLibraryA(argv[i]);
        if (!module) {
            printf("%s: does not load (error %lu)\n", argv[i], GetLastError());
            ++failures;
            continue;
        }
        printf("%s: loaded, exports:\n", argv[i]);
        PrintExports(module);
        if (GetProcAddress(module, "libvkvarcon_version")) PrintVersionTexts(module);
        FreeLibrary(module);
    }
    return failures == 0 ? 0 : 1;
}
