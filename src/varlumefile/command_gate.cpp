#include "varlumefile/command_gate.h"

VLCommandDecision decideCommand(const VLCommandKind& command, const VLCommandCaller& caller) {
  if (command.privileged && !caller.privilegedHost) return VLCommandDecision::NotPrivilegedHost;
  if (!caller.privilegedFolder || !(command.privileged || command.changes)) return VLCommandDecision::Run;
  // A click on a link of the privileged host is a same-origin navigation
  // with its Referer: only the line a script sends tells it from the script.
  if (!caller.pageScript) return VLCommandDecision::NotPageScript;
  if (caller.otherSitePage) return VLCommandDecision::OtherSitePage;
  return VLCommandDecision::Run;
}
