// Registry lines of the browser-configuration scripts, on the registry store.
#include <string>
#include <vector>

#include "platform/registry.h"
#include "varlume/script_actions.h"
#include "varlume/script_lines.h"

namespace {

using platform::RegistryKey;
using platform::RegistryStore;

VLLineResult setValue(RegistryStore& store, const RegistryKey& root, const std::string& keyPath,
                      const std::string& type, const std::string& value) {
  std::string key;
  std::string name;
  if (!splitValueName(keyPath, key, name)) return VLLineResult::Stop;
  if (type != "REG_SZ" && type != "REG_EXPAND_SZ" && type != "REG_DWORD") {
    return VLLineResult::Next;  // another type does nothing
  }
  RegistryKey opened;
  if (!store.openKey(root, key, opened)) return VLLineResult::Stop;
  bool set = false;
  if (type == "REG_DWORD") {
    set = store.setDword(opened, name, dwordValue(value));
  } else {
    // A string value is kept with its terminating zero byte.
    set = store.setValue(opened, name, type == "REG_SZ" ? platform::kRegSz : platform::kRegExpandSz,
                         value + std::string(1, '\0'));
  }
  // A value that could not be set is no finished line.
  return set ? VLLineResult::Next : VLLineResult::Stop;
}

VLLineResult deleteValue(RegistryStore& store, const RegistryKey& root,
                         const std::string& keyPath) {
  std::string key;
  std::string name;
  if (!splitValueName(keyPath, key, name)) return VLLineResult::Stop;
  RegistryKey opened;
  if (!store.openKey(root, key, opened)) return VLLineResult::Stop;
  store.deleteValue(opened, name);
  return VLLineResult::Next;
}

VLLineResult createKey(RegistryStore& store, const RegistryKey& root, const std::string& keyPath,
                       VLScriptRun& run) {
  RegistryKey current;
  if (!store.openKey(root, "", current)) return VLLineResult::Stop;
  for (const std::string& component : keyPathComponents(keyPath)) {
    RegistryKey next;
    if (!store.createKey(current, component, next)) {
      run.failureMark = true;
      return VLLineResult::Stop;
    }
    current = std::move(next);
  }
  return run.failureMark ? VLLineResult::Stop : VLLineResult::Next;
}

VLLineResult deleteKey(RegistryStore& store, const RegistryKey& root, const std::string& keyPath,
                       VLScriptRun& run) {
  const std::vector<std::string> components = keyPathComponents(keyPath);
  RegistryKey current;
  if (!store.openKey(root, "", current)) return VLLineResult::Stop;
  std::size_t opened = 0;
  for (; opened + 1 < components.size(); ++opened) {
    RegistryKey next;
    if (!store.openKey(current, components[opened], next)) {
      run.failureMark = true;
      return VLLineResult::Stop;
    }
    current = std::move(next);
  }
  if (run.failureMark) return VLLineResult::Stop;
  // A single component opens nothing below the root, so it deletes nothing.
  if (opened > 0) store.deleteKey(current, components.back());
  return VLLineResult::Next;
}

}  // namespace

VLLineResult runRegistryLine(const std::string& line, VLScriptRun& run) {
  VLLineParts parts;
  if (!lineParts(line, VLLineKind::Registry, parts) || run.registry == nullptr) {
    return VLLineResult::Stop;
  }
  const std::string argument = replaceInRegistryArgument(parts.argument, run.port);
  platform::RegistryRoot rootName;
  std::string keyPath;
  if (!splitRegistryTarget(parts.target, rootName, keyPath)) return VLLineResult::Stop;
  std::string type;
  std::string value;
  const bool deletes = parts.action == "DELETEKEY" || parts.action == "DELETEVALUE";
  if (!deletes && !splitRegistryArgument(argument, type, value)) return VLLineResult::Stop;

  RegistryStore& store = *run.registry;
  const RegistryKey root = store.root(rootName);
  if (parts.action == "SETVALUE") return setValue(store, root, keyPath, type, value);
  if (parts.action == "DELETEVALUE") return deleteValue(store, root, keyPath);
  if (parts.action == "CREATEKEY") return createKey(store, root, keyPath, run);
  if (parts.action == "DELETEKEY") return deleteKey(store, root, keyPath, run);
  return VLLineResult::Stop;
}
