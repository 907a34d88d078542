// The run step shared by both launchers: start "zendra2.exe" through the
// command interpreter and wait for it.
#pragma once

// Finds the command interpreter, starts it with "/c zendra2.exe" and waits
// until it has ended. Answers the interpreter's exit status, or -1 when no
// interpreter was found, the one named does not exist, or it could not be
// started.
int RunApplication();
