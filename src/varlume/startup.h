// The main program's start-up (VLApp::main of varlume): default files, the
// start-up log, the public key, sockets, folders and configuration, options
// and upstream-proxy checks, service programs, the temporary folder, then the
// listener. A failure that leaves nothing to serve with ends the process.
#pragma once

inline constexpr char kVarlumeVersion[] = "1.0.0, 2006-08-24";

// Closes the start-up log, cleans up sockets and ends the process with
// `status`.
[[noreturn]] void abortStartup(int status);
