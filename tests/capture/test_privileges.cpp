// Capability handling. Every case that drops capabilities runs in a forked
// child: a dropped capability never comes back to the test process.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "capture/endpoint.h"
#include "capture/privileges.h"
#include "capture/session.h"
#include "tests/capture/fake_list.h"

namespace {

constexpr uint64_t kNetRaw = uint64_t{1} << 13;

uint64_t Mask(const std::string& status, const char* key) {
    std::istringstream lines(status);
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(lines, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::strtoull(line.c_str() + prefix.size(), nullptr, 16);
    }
    return ~uint64_t{0};
}

uint64_t Own(const char* key) {
    std::ifstream in("/proc/thread-self/status");
    std::stringstream all;
    all << in.rdbuf();
    return Mask(all.str(), key);
}

bool RawSocket() {
    const int fd = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_IP));
    if (fd >= 0)
        close(fd);
    return fd >= 0;
}

// Collects failed expectations inside a child as text for the parent.
struct Findings {
    std::string text;
    void Expect(bool ok, const std::string& what) {
        if (!ok)
            text += what + "\n";
    }
    void Mask(const char* key, uint64_t want, const std::string& when) {
        const uint64_t got = Own(key);
        char line[128];
        std::snprintf(line, sizeof line, "%s %s: got %#llx, want %#llx", when.c_str(), key,
                      static_cast<unsigned long long>(got), static_cast<unsigned long long>(want));
        Expect(got == want, line);
    }
};

// Runs body in a child process and returns what it found wrong.
std::string InChild(const std::function<void(Findings&)>& body) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        Findings findings;
        body(findings);
        const ssize_t written = write(pipeFds[1], findings.text.data(), findings.text.size());
        _exit(written == static_cast<ssize_t>(findings.text.size()) ? 0 : 2);
    }
    close(pipeFds[1]);
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        text += "child did not finish cleanly\n";
    return text;
}

void ForgetSudo() {
    unsetenv("SUDO_UID");
    unsetenv("SUDO_GID");
    unsetenv("SUDO_USER");
}

#define REQUIRE_ROOT()  \
    if (geteuid() != 0) \
    GTEST_SKIP() << "needs root"

TEST(Privileges, RootKeepsOnlyNetRawPermittedAndRaisesItPerScope) {
    REQUIRE_ROOT();
    EXPECT_EQ(InChild([](Findings& f) {
                  ForgetSudo();
                  f.Expect(DropPrivilegesAtStart(), "drop reported failure");
                  f.Mask("CapPrm", kNetRaw, "after drop");
                  f.Mask("CapEff", 0, "after drop");
                  f.Mask("CapInh", 0, "after drop");
                  f.Mask("CapBnd", kNetRaw, "after drop");
                  f.Expect(!RawSocket(), "raw socket opened outside a scope");
                  // Start is pressed more than once in a session.
                  for (int round = 0; round < 2; ++round) {
                      const std::string when = "scope " + std::to_string(round);
                      {
                          CaptureCapabilityScope scope;
                          f.Expect(scope.Raised(), when + " did not raise");
                          f.Mask("CapEff", kNetRaw, when);
                          f.Expect(RawSocket(), when + ": raw socket refused");
                          {
                              CaptureCapabilityScope inner;
                              f.Expect(!inner.Raised(), "nested scope raised again");
                          }
                          f.Mask("CapEff", kNetRaw, when + " after nested scope");
                      }
                      f.Mask("CapEff", 0, when + " ended");
                      f.Mask("CapPrm", kNetRaw, when + " ended");
                  }
                  f.Expect(getuid() == 0, "root without sudo changed identity");
              }),
              "");
}

// A capture file is untrusted input: reading it, libpcap's parsing of its
// header included, runs without the capture right. The session's own file
// endpoint is wrapped, so that the right is read on the opening thread as the
// file is opened.
TEST(Privileges, OpeningACaptureFileRaisesNothing) {
    REQUIRE_ROOT();
    EXPECT_EQ(InChild([](Findings& f) {
                  ForgetSudo();
                  DropPrivilegesAtStart();
                  char dir[] = "/tmp/qvcapXXXXXX";
                  f.Expect(mkdtemp(dir) != nullptr, "mkdtemp failed");
                  const std::string empty = std::string(dir) + "/capture.pcap";
                  f.Expect(std::ofstream(empty).good(), "cannot write the empty file");
                  struct NoHandoff final : RowHandoff {
                      bool Post(UiTask&) override { return false; }
                      bool WaitDone() override { return false; }
                  } handoff;
                  struct Watched final : CaptureEndpoint {
                      std::unique_ptr<CaptureEndpoint> file;
                      std::string* status = nullptr;  // the opening thread's, as Open began
                      int Open(std::string_view address) override {
                          std::ifstream in("/proc/thread-self/status");
                          std::stringstream all;
                          all << in.rdbuf();
                          *status = all.str();
                          return file->Open(address);
                      }
                      int Receive(uint8_t* b, int n) override { return file->Receive(b, n); }
                      void Interrupt() override { file->Interrupt(); }
                      void Close() override { file->Close(); }
                  };
                  std::string status;
                  FakeEventList list;
                  CaptureSession session(handoff, list);
                  session.SetFileEndpointFactory([&](std::string path) {
                      auto w = std::make_unique<Watched>();
                      w->file = MakeFileEndpoint(std::move(path));
                      w->status = &status;
                      return std::unique_ptr<CaptureEndpoint>(std::move(w));
                  });
                  int rc = 0;
                  std::thread t([&] { rc = session.OpenCaptureFile(empty); });
                  t.join();
                  f.Expect(Mask(status, "CapEff") == 0,
                           "capture file opened with a capability effective:\n" + status);
                  f.Expect(rc != 0, "an empty file opened as a capture");
                  unlink(empty.c_str());
                  rmdir(dir);
              }),
              "");
}

TEST(Privileges, ProgramsStartedByRootAfterDropGainNothing) {
    REQUIRE_ROOT();
    EXPECT_EQ(InChild([](Findings& f) {
                  ForgetSudo();
                  DropPrivilegesAtStart();
                  // The shell and grep run as root: root's implicit
                  // capabilities must stay off for them.
                  FILE* child = popen("grep ^Cap /proc/self/status", "r");
                  std::string status;
                  char buffer[256];
                  while (child != nullptr && fgets(buffer, sizeof buffer, child) != nullptr) {
                      status += buffer;
                  }
                  f.Expect(child != nullptr && pclose(child) == 0, "grep did not run");
                  f.Expect(Mask(status, "CapPrm") == 0, "exec'd program permitted: " + status);
                  f.Expect(Mask(status, "CapEff") == 0, "exec'd program effective: " + status);
              }),
              "");
}

TEST(Privileges, RootThroughSudoBecomesTheInvokingUser) {
    REQUIRE_ROOT();
    EXPECT_EQ(InChild([](Findings& f) {
                  setenv("SUDO_UID", "65534", 1);
                  setenv("SUDO_GID", "65534", 1);
                  f.Expect(DropPrivilegesAtStart(), "drop reported failure");
                  f.Expect(getuid() == 65534 && geteuid() == 65534, "uid not switched");
                  f.Expect(getgid() == 65534 && getegid() == 65534, "gid not switched");
                  gid_t groups[64];
                  const int count = getgroups(64, groups);
                  for (int i = 0; i < count; ++i)
                      f.Expect(groups[i] != 0, "kept root's group");
                  f.Mask("CapPrm", kNetRaw, "after drop");
                  f.Mask("CapEff", 0, "after drop");
                  {
                      CaptureCapabilityScope scope;
                      f.Expect(RawSocket(), "invoking user cannot capture");
                  }
                  f.Mask("CapEff", 0, "after scope");
              }),
              "");
}

TEST(Privileges, WithoutNetRawNothingIsRaised) {
    EXPECT_EQ(InChild([](Findings& f) {
                  ForgetSudo();
                  if (geteuid() == 0)
                      setuid(65534);  // an ordinary user, no file capabilities
                  DropPrivilegesAtStart();
                  f.Mask("CapPrm", 0, "after drop");
                  CaptureCapabilityScope scope;
                  f.Expect(!scope.Raised(), "raised a capability it did not have");
                  f.Expect(!RawSocket(), "raw socket without the capability");
              }),
              "");
}

TEST(Privileges, SelfTestReportsEachPhase) {
    REQUIRE_ROOT();
    EXPECT_EQ(InChild([](Findings& f) {
                  ForgetSudo();
                  DropPrivilegesAtStart();
                  std::ostringstream out;
                  f.Expect(RunCapabilitySelfTest(out) == 0, "self-test failed:\n" + out.str());
                  const std::string text = out.str();
                  f.Expect(text.find("outside: CapPrm=0000000000002000 CapEff=0000000000000000 "
                                     "raw-socket=denied") != std::string::npos,
                           text);
                  f.Expect(text.find("inside: CapPrm=0000000000002000 CapEff=0000000000002000 "
                                     "raw-socket=ok") != std::string::npos,
                           text);
                  f.Expect(text.find("cap_net_raw=p") != std::string::npos, text);
              }),
              "");
    // Before the drop root holds far more than CAP_NET_RAW: the check fails.
    std::ostringstream out;
    EXPECT_EQ(RunCapabilitySelfTest(out), 1) << out.str();
}

// A scratch folder of root's for the cases that need root.
class RootScratch : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root";
        char pattern[] = "/tmp/qv-privileges-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        ForgetSudo();
        if (!dir_.empty())
            std::system(("rm -rf " + dir_).c_str());
    }
    bool Ready() const { return !IsSkipped() && !HasFatalFailure(); }
    std::string dir_;
};

// Root with another user's display: the case Qt would abort in.
class RootDisplay : public RootScratch {
  protected:
    void SetUp() override {
        RootScratch::SetUp();
        if (!Ready())
            return;
        // The user's runtime folder (0700) holding their cookie (0600).
        ASSERT_EQ(mkdir((dir_ + "/user").c_str(), 0700), 0);
        authority_ = dir_ + "/user/Xauthority";
        std::ofstream(authority_) << "cookie";
        ASSERT_EQ(chmod(authority_.c_str(), 0600), 0);
        ASSERT_EQ(chown(authority_.c_str(), 65534, 65534), 0);
        ASSERT_EQ(chown((dir_ + "/user").c_str(), 65534, 65534), 0);
    }
    // What the program would say, in a child that dropped its rights as main() does.
    std::string ProblemAfterDrop(const std::function<void()>& environment) {
        std::string problem;
        const std::string findings = InChild([&](Findings& f) {
            ForgetSudo();
            unsetenv("QT_QPA_PLATFORM");
            unsetenv("WAYLAND_DISPLAY");
            setenv("DISPLAY", ":97", 1);
            setenv("XAUTHORITY", authority_.c_str(), 1);
            environment();
            DropPrivilegesAtStart();
            f.text = RootDisplayProblem();
        });
        return findings;
    }
    std::string authority_;
};

TEST_F(RootDisplay, AnotherUsersUnreadableAuthorityIsExplained) {
    const std::string said = ProblemAfterDrop([] {});
    EXPECT_NE(said.find("started as root on the display :97"), std::string::npos) << said;
    EXPECT_NE(said.find(authority_), std::string::npos) << said;
    EXPECT_NE(said.find("sudo /"), std::string::npos) << said;
    // The owner is named by the folder that shuts root out.
    EXPECT_NE(said.find("runuser -u nobody --"), std::string::npos) << said;
    // Before the drop root reads anything: nothing to say.
    EXPECT_EQ(InChild([&](Findings& f) {
                  ForgetSudo();
                  unsetenv("QT_QPA_PLATFORM");
                  setenv("DISPLAY", ":97", 1);
                  setenv("XAUTHORITY", authority_.c_str(), 1);
                  f.text = RootDisplayProblem();
              }),
              "");
}

TEST_F(RootDisplay, NothingToSayWhenQtWouldNotNeedThatAuthority) {
    const std::string authority = authority_;
    // Readable cookie.
    EXPECT_EQ(ProblemAfterDrop([&] {
                  chmod((dir_ + "/user").c_str(), 0755);
                  chmod(authority.c_str(), 0644);
              }),
              "");
    // No cookie at all: the X server may admit root by other means.
    EXPECT_EQ(ProblemAfterDrop([&] { setenv("XAUTHORITY", (dir_ + "/absent").c_str(), 1); }), "");
    // Not X11, or no display.
    EXPECT_EQ(ProblemAfterDrop([] { setenv("QT_QPA_PLATFORM", "offscreen", 1); }), "");
    EXPECT_EQ(ProblemAfterDrop([] { unsetenv("DISPLAY"); }), "");
    EXPECT_EQ(ProblemAfterDrop([] {
                  setenv("WAYLAND_DISPLAY", "wayland-0", 1);
                  setenv("XDG_SESSION_TYPE", "wayland", 1);
              }),
              "");
    // Through sudo the program becomes the user, who reads their own cookie.
    EXPECT_EQ(InChild([&](Findings& f) {
                  unsetenv("QT_QPA_PLATFORM");
                  setenv("DISPLAY", ":97", 1);
                  setenv("XAUTHORITY", authority.c_str(), 1);
                  setenv("SUDO_UID", "65534", 1);
                  setenv("SUDO_GID", "65534", 1);
                  DropPrivilegesAtStart();
                  f.text = RootDisplayProblem();
              }),
              "");
}

}  // namespace
