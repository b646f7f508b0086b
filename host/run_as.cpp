#include "run_as.h"

#include "options.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tolvane::host {

namespace {

std::string Reason(int Error) { return Error == 0 ? "no such entry" : std::strerror(Error); }

}  // namespace

bool RunningAsRoot() { return geteuid() == 0; }

void RunAs(const std::string& Name, const std::string& Group) {
  const std::string Prefix = "--user: ";
  std::vector<char> Buffer(16384);
  passwd User{};
  passwd* FoundUser = nullptr;
  int Error = getpwnam_r(Name.c_str(), &User, Buffer.data(), Buffer.size(), &FoundUser);
  if (!FoundUser) throw EOptionError(Prefix + "unknown user '" + Name + "' (" + Reason(Error) + ")");
  const uid_t Uid = User.pw_uid;
  gid_t Gid = User.pw_gid;
  if (!Group.empty()) {
    std::vector<char> GroupBuffer(16384);
    group Entry{};
    group* FoundGroup = nullptr;
    Error = getgrnam_r(Group.c_str(), &Entry, GroupBuffer.data(), GroupBuffer.size(), &FoundGroup);
    if (!FoundGroup) throw EOptionError(Prefix + "unknown group '" + Group + "' (" + Reason(Error) + ")");
    Gid = Entry.gr_gid;
  }
  // Groups first, while the process may still change them; the user id last.
  // glibc applies each change to every thread of the process.
  const std::string Whom = Name + (Group.empty() ? "" : ":" + Group);
  if (initgroups(Name.c_str(), Gid) != 0)
    throw EOptionError(Prefix + "cannot take the groups of " + Whom + ": " + std::strerror(errno));
  if (setgid(Gid) != 0) throw EOptionError(Prefix + "cannot take the group of " + Whom + ": " + std::strerror(errno));
  if (setuid(Uid) != 0) throw EOptionError(Prefix + "cannot become " + Whom + ": " + std::strerror(errno));
  uid_t Real, Effective, Saved;
  gid_t RealGroup, EffectiveGroup, SavedGroup;
  if (getresuid(&Real, &Effective, &Saved) != 0 || getresgid(&RealGroup, &EffectiveGroup, &SavedGroup) != 0 ||
      Real != Uid || Effective != Uid || Saved != Uid || RealGroup != Gid || EffectiveGroup != Gid ||
      SavedGroup != Gid)
    throw EOptionError(Prefix + "the identity of " + Whom + " did not take hold");
  if (Uid != 0 && (setuid(0) == 0 || seteuid(0) == 0))
    throw EOptionError(Prefix + "as " + Whom + " the process could still become root");
}

}  // namespace tolvane::host
