// Stopping when told: SIGINT and SIGTERM ask the running job to stop at its
// next check (the plug-in sees the request through its abort polling), and
// the temporary file being written is never left behind. A second request
// ends the process at once.
#pragma once

#include <string>

namespace ofxrender {

// Installs the handlers; call once, before any work starts.
void installInterruptHandlers();

// The signal that asked the job to stop, or 0.
int interruptSignal();
bool interrupted();

// The exit code for a job stopped by sig: 128 + sig, as shells report it.
int interruptExitCode(int sig);

// Throws the ToolError that ends an interrupted job, if one was asked for.
void throwIfInterrupted();

// The temporary file the handlers remove when the process is ended at once.
// Only one is written at a time.
void registerTempFile(const std::string &path);
void unregisterTempFile();

} // namespace ofxrender
