// vont: announces itself to the application through the hand-off file
// "ini\zendra.txt", starts "zendra2.exe" through the command interpreter,
// waits for it and deletes the hand-off file again, so that the file exists
// exactly while the application runs. Ends with 0 when the deletion
// succeeded and -1 when it failed; the interpreter's status is not looked
// at. Command-line arguments are accepted and ignored; nothing is printed.
#include "run_application.h"

#include <windows.h>

#include <cstdio>

namespace {

// Relative to the current directory at start, not to the program's folder.
// The "ini" folder is the application's; it is never created here.
const char kHandOffFile[] = "ini\\zendra.txt";

// Steps 1 to 3: create or truncate the hand-off file in text mode, write the
// mode word and a line end (CR LF in text mode: the 6 bytes "vont\r\n") and
// close it, so that the bytes are on disk before the application starts.
//
// Where the file cannot be opened (no "ini" folder, a read-only file, a
// folder of that name) nothing is written, and vont still starts the
// application: it then finds no hand-off file, or the old read-only one, and
// vont ends with -1 because the deletion afterwards fails (a missing file
// cannot be deleted; a read-only one is refused).
void WriteHandOffFile() {
    std::FILE *file = std::fopen(kHandOffFile, "w");
    if (file == nullptr) return;
    std::fputs("vont\n", file);
    std::fclose(file);
}

// Step 5: one attempt at deleting the hand-off file, never retried.
bool DeleteHandOffFile() { return DeleteFileA(kHandOffFile) != 0; }

}  // namespace

// The steps, in order: 1 to 3 write the hand-off file, 4 run the application
// through the interpreter, 5 delete the hand-off file, 6 end with the
// deletion's outcome.
int main() {
    WriteHandOffFile();
    RunApplication();  // step 4: the interpreter's status is not used
    return DeleteHandOffFile() ? 0 : -1;
}
