// The header line the privileged host's pages' script sends with the
// commands that change something; no navigation, link, form, image or frame
// can send it.
#pragma once

namespace servicetest {

inline constexpr char kScriptLine[] = "X-Varlume-Command: 1\r\n";

}  // namespace servicetest
