// What the client publishes for the module in every other process while the binding is started:
// "binding on, tunnel address". The client (elevated) creates a named section holding one
// PublishedBindState when it starts the binding and closes it when it stops; the section goes
// when the client goes, so a client that dies leaves the binding off. Every process may read
// it; only administrators and the system may write it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// In the program's own namespace; the global name only where the system has no private
// namespaces.
inline constexpr wchar_t kBindStateSectionLeaf[] =
    L"KavrinBindState_{6B1F0C52-93E4-4D7A-A2C1-5E0B9D43F817}";
inline constexpr wchar_t kBindStateSectionName[] =
    L"Global\\KavrinBindState_{6B1F0C52-93E4-4D7A-A2C1-5E0B9D43F817}";
inline constexpr uint32_t kBindStateMagic = 0x5342564Bu;  // "KVBS"
inline constexpr uint32_t kBindStateSectionSize = 4096;

struct PublishedBindState {
  uint32_t magic = kBindStateMagic;
  uint32_t size = sizeof(PublishedBindState);
  uint32_t on = 0;
  uint32_t tunnelAddress = 0;  // network byte order
  // The client's own sockets are never steered.
  uint32_t clientProcessId = 0;
};

struct BindState {
  bool on = false;
  uint32_t tunnelAddress = 0;
  uint32_t clientProcessId = 0;
  bool operator==(const BindState&) const = default;
};

// The state in a section's bytes; off unless they hold a complete record of ours.
inline BindState DecodeBindState(const void* bytes, size_t size) {
  PublishedBindState record;
  if (bytes == nullptr || size < sizeof(record)) return {};
  std::memcpy(&record, bytes, sizeof(record));
  if (record.magic != kBindStateMagic || record.size < sizeof(record) || record.on != 1 ||
      record.tunnelAddress == 0 || record.tunnelAddress == 0xFFFFFFFFu) {
    return {};
  }
  return {true, record.tunnelAddress, record.clientProcessId};
}
