// The tray's readers of a status block and of the loader block, over bytes a hostile process
// could have written: every text copied out is terminated inside its field, every count within
// its array, and a reply never runs into the next command slot. The fuzzer's bytes lie over a
// block whose magic is right, so it explores the contents instead of guessing the magic.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "shared/loader_block.h"
#include "shared/status_block.h"
#include "tests/support/fuzz_check.h"
#include "tray/services/status_link.h"

namespace {

template <size_t N>
bool terminated(const char (&s)[N]) {
  return std::memchr(s, '\0', N) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ks;
  using namespace ks::tray;

  // The status block: the fuzzer's bytes from offset 8 on, magic and a layout version 12..17.
  auto block = std::make_unique<StatusBlock>();
  std::memset(block.get(), 0, sizeof *block);
  uint8_t* raw = reinterpret_cast<uint8_t*>(block.get());
  if (size > 8) std::memcpy(raw + 8, data + 8, std::min(size - 8, sizeof *block - 8));
  block->magic = kStatusMagic;
  block->version = size ? 12 + data[0] % 6 : kStatusLayoutVersion;
  const BlockView view{raw, sizeof *block};

  const StatusSnapshot s = snapshot_of(view);
  KS_FUZZ_CHECK(s.present == 1);
  KS_FUZZ_CHECK(terminated(s.status_text) && terminated(s.desk_line) &&
                terminated(s.chosen_console));
  KS_FUZZ_CHECK(terminated(s.address_ip) && terminated(s.address_id) && terminated(s.address_name));
  for (const auto& bank : s.src_bank) KS_FUZZ_CHECK(terminated(bank));
  KS_FUZZ_CHECK(s.answer_count <= kAnswerSummaries && s.source_device_count <= kSourceDevices);
  for (const auto& a : s.answers)
    KS_FUZZ_CHECK(terminated(a.ip) && terminated(a.name) && terminated(a.model) &&
                  terminated(a.id));
  for (const auto& d : s.source_devices) KS_FUZZ_CHECK(terminated(d.port));

  char line[40];
  desk_line_of(view, line, sizeof line);
  KS_FUZZ_CHECK(terminated(line));

  for (uint32_t seq : {1u, 2u, 8u, 9u, 0xFFFFFFFFu, block->ring.op[0].seq}) {
    std::string reply;
    uint32_t result = 0;
    if (ring_result(view, seq, &result, &reply)) KS_FUZZ_CHECK(reply.size() < kReplyBytes);
  }

  char groups[16][kBankBytes];
  uint32_t counts[16] = {};
  const size_t n = reroute_groups_of(view, groups, counts, 16);
  KS_FUZZ_CHECK(n <= 16);
  for (size_t i = 0; i < n; ++i) KS_FUZZ_CHECK(terminated(groups[i]));

  // A view shorter than the record is never read as a block.
  KS_FUZZ_CHECK(snapshot_of({raw, sizeof *block - 1}).present == 0);

  // The loader block: the fuzzer's bytes as they are, in a view of their own size.
  uint8_t copy[kLoaderBlockSize];
  auto bytes = std::make_unique<uint8_t[]>(size ? size : 1);
  if (size) std::memcpy(bytes.get(), data, size);
  if (loader_block_of({bytes.get(), size}, copy)) {
    KS_FUZZ_CHECK(size >= kLoaderBlockMinSize);
    const auto* lb = reinterpret_cast<const LoaderBlock*>(copy);
    for (const auto& t : lb->types)
      KS_FUZZ_CHECK(terminated(t.type_name) && terminated(t.running_version) &&
                    terminated(t.failed_file));
  }
  return 0;
}
