// Who may run a command of the file service: the decision, from what the
// command is and a few facts of the request, before the dispatcher acts.
// A privileged command runs only for the privileged host. On the privileged
// host's folder, a privileged command or one that changes anything runs
// only for its pages' own script (the line no navigation, link, form, image
// or frame can send), and never for a request that names another site's
// page.
#pragma once

struct VLCommandKind {
  bool privileged = false;  // for the privileged host only
  bool changes = false;     // makes, saves, renames or removes, or sets the proxy
};

struct VLCommandCaller {
  bool privilegedHost = false;    // the Host is the privileged host
  bool privilegedFolder = false;  // the Host names its folder (%XX-decoded, any case)
  bool pageScript = false;        // the request carries the script's own line
  bool otherSitePage = false;     // an Origin or Referer names another page
};

enum class VLCommandDecision {
  Run,
  NotPrivilegedHost,  // a privileged command of another host
  NotPageScript,      // the privileged host's command without its script's line
  OtherSitePage,      // the privileged host's command from another site's page
};

VLCommandDecision decideCommand(const VLCommandKind& command, const VLCommandCaller& caller);
