// "varlume.config": one copy per user in the user folder and one for all users
// that holds the port set of the next user; query-string text with the keys
// varlume, proxyport, proxyhost, varlumeservices, range and varlumeinternal,
// and the optional cachemegabytes (cache_bound.h). Loading it fills six
// start-up settings (settings.h) and the cache bound.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "foundation/decimal.h"

inline constexpr char kConfigurationFileName[] = "varlume.config";
// The built-in port sets; each is written to a file followed by CR LF.
inline constexpr char kFirstPortSet[] =
    "varlume=8080&proxyport=0&proxyhost=&varlumeservices=45000&varlumeinternal=50000&range=500";
inline constexpr char kSecondPortSet[] =
    "varlume=8081&proxyport=0&proxyhost=&varlumeservices=45020&varlumeinternal=50500&range=500";
// At most this much of a configuration file is read.
inline constexpr std::size_t kConfigurationReadLimit = 4096;
// Locked in the all-users folder while the all-users file is tested and
// written (a first start's rewrite, the copy of the shipped seed), so two
// first starts never take the same port set.
inline constexpr char kAllUsersLockName[] = "varlume.config.lock";

// Sets listeningPort, proxyPort, proxyHost (whole, untrimmed), servicesPort,
// internalRange and internalPort from `text`, in this order, then the cache
// bound (its default when the text lacks the key).
void parseConfiguration(const std::string& text);

// `text` advanced for the next user from the settings just parsed: varlume :=
// listeningPort + 1, varlumeservices := servicesPort + 20, varlumeinternal :=
// internalPort + internalRange. A key the text lacks is not added.
std::string nextUserConfiguration(const std::string& text);

// What a first start writes into the user file from the all-users text:
// the text whole, unless another user may change the all-users file; then
// only its port set (the settings the four port-set keys give), without an
// upstream proxy, in the built-in sets' form.
std::string firstStartText(const std::string& allUsersText, bool othersMayChange);

// Reads the user's configuration, or makes it from the all-users file (which
// is then advanced for the next user; see firstStartText) or from the
// built-in sets, and fills
// the settings. `tempPath` must be set: a missing one is created. Two first
// starts at once are kept apart by a lock in the all-users folder. False with
// the log line in `failureLine` when start-up cannot go on. `parsedText`,
// when given, receives the text the settings were read from (the user
// file's text, or what was written into it).
bool loadConfiguration(const std::string& userFolder, const std::string& allUsersFolder,
                       std::string& failureLine, std::string* parsedText = nullptr);

// The label of the listening port's line, which start-up reads back from
// the log to find the port of the instance that runs.
inline constexpr char kListeningPortLabel[] = "  Listening Port:     ";
// The eight lines of the active configuration, labels padded to one width.
std::vector<std::string> activeConfigurationLines();
