#pragma once

// Least privilege for raw capture. The program runs as the desktop user with
// CAP_NET_RAW given to its file (or, exceptionally, as root). Only that one
// capability is ever needed, and only while a capture is being opened.
//
// Capabilities are per thread on Linux and new threads copy their creator's:
// DropPrivilegesAtStart must run first in main(), before QApplication or any
// other thread exists.

#include <iosfwd>
#include <string>

// Clears every capability but CAP_NET_RAW, which stays permitted (never
// effective) if the process had it. As root, the bounding set is cut to
// CAP_NET_RAW and root's implicit capabilities are disabled for programs it
// starts (the about page opens links through xdg-open). Started by root through
// sudo, the process becomes the invoking user (SUDO_UID/SUDO_GID with that
// user's groups), keeping CAP_NET_RAW permitted: it then reads the user's
// display authority and saves files the user owns. Returns false if the kernel
// refused a step; the process then keeps what it had left.
bool DropPrivilegesAtStart();

// Raises CAP_NET_RAW to effective for the scope's life if it is permitted, and
// lowers it again when the scope ends. Acts on the calling thread only, so the
// scope must live in the thread that opens the capture.
class CaptureCapabilityScope {
  public:
    CaptureCapabilityScope();
    ~CaptureCapabilityScope();
    CaptureCapabilityScope(const CaptureCapabilityScope&) = delete;
    CaptureCapabilityScope& operator=(const CaptureCapabilityScope&) = delete;

    // True if CAP_NET_RAW was raised by this scope.
    bool Raised() const { return raised_; }

  private:
    bool raised_ = false;
};

// After DropPrivilegesAtStart, as root: root then keeps only CAP_NET_RAW and
// cannot read another user's X authority file, so Qt would fail to reach that
// user's display and abort. Returns what to tell the person in that case (what
// to run instead), empty otherwise: not root, not X11, or the authority readable
// or absent (the X server may admit root without it).
std::string RootDisplayProblem();

// One line for diagnostics: ids and the calling thread's capability sets.
std::string CapabilityStatusText();

// What `quorvelan --capability-self-test` prints, after DropPrivilegesAtStart:
// the CapPrm/CapEff lines of /proc/self/status outside a scope, inside one and
// after it, and whether a raw packet socket opens outside and inside. Returns
// the process exit code: 0 if no capability but CAP_NET_RAW is held and none
// is effective outside the scope, 1 otherwise.
int RunCapabilitySelfTest(std::ostream& out);
