// The tray program's side of the shared-memory link with LV1's process: the console modules'
// status blocks (read, plus the watch request, the resync choice and the command ring, which we
// write) and the loader's block (read only, copied afresh each time).
//
// Everything that reads or writes a block works on a BlockView (base, size), so the logic runs
// on any memory laid out by the shared records. StatusLink keeps the two lasting views and
// chooses the one the dashboard shows; it maps blocks through ks::SharedMemory.
//
// Nothing here trusts the other side: a block shorter than its record, of another magic or older
// layout is refused or read as far as its version allows, every text copied out is bounded by its
// field and NUL-terminated, and every count is clamped to its array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "os/clock.h"
#include "shared/loader_block.h"
#include "shared/status_block.h"
#include "tray/services/status_snapshot.h"

namespace ks {
class SharedMemory;
}

namespace ks::tray {

// A mapped block, or any memory laid out like one. Empty when base is null.
struct BlockView {
  uint8_t* base = nullptr;
  size_t size = 0;
  explicit operator bool() const { return base != nullptr; }
};

// The block as a StatusBlock when the view holds a whole one with the right magic; else null.
StatusBlock* status_block_of(BlockView v);

// ---- one-shot copies ----------------------------------------------------------------------------

// Copies the fields the block's layout version carries; the all-zero snapshot when the view is
// not a whole block with the magic.
StatusSnapshot snapshot_of(BlockView v);

// The desk line into out (bounded by size, always terminated); true only when the view is a
// block and the line is not empty.
bool desk_line_of(BlockView v, char* out, size_t size);

// The loader block's copy: out is zeroed, then min(size field, 304) bytes are copied when the
// magic is "DLSK" and the size field is at least 272; false otherwise. A view shorter than what
// would be copied is refused too. The texts of the copy are terminated inside their fields.
inline constexpr uint32_t kLoaderBlockMinSize = 272;
bool loader_block_of(BlockView v, uint8_t (&out)[kLoaderBlockSize]);

// ---- requests and the command ring --------------------------------------------------------------

// The layout version a command needs: 14 for ops 9 and 10 and for op 8 naming an input by group
// (negative channel), otherwise 13.
uint32_t command_min_version(uint32_t op, int32_t channel);

struct CommandRequest {
  uint32_t op = 0;
  int32_t channel = 0;
  uint32_t arg = 0;
  double value = 0.0;
  std::string_view group;  // at most 7 characters are sent
  uint32_t arg2 = 0;
};

enum class PostRefusal { none, not_running, too_old, ring_full };

// Posts into a free slot of the block's ring; the sequence, or 0 with the reason.
uint32_t ring_post(BlockView v, const CommandRequest& r, PostRefusal* why = nullptr);

// A served command's result and reply (the raw bytes the module wrote, at most 95). False while
// the command is pending, for seq 0, a block below layout version 13, or a slot reused since.
bool ring_result(BlockView v, uint32_t seq, uint32_t* result, std::string* reply);

// The texts the dashboard shows for a refused post.
inline constexpr char kRefusedNotRunning[] = "eMotion LV1 is not running.";
inline constexpr char kRefusedTooOld[] =
    "The installed module is too old for this \xE2\x80\x94 close eMotion LV1, then Reinstall in Setup.";
inline constexpr char kRefusedRingFull[] =
    "Too many actions at once \xE2\x80\x94 try that again in a moment.";
inline constexpr char kWorkingText[] = "Working\xE2\x80\xA6";

// The watch request: bank (when not empty, 7 characters), base and count, pending := 1, then
// request_seq + 1. The resync word is left alone.
void write_watch_request(BlockView v, std::string_view group, uint32_t base, uint32_t count);
// The resync choice: 1 LV1, 0 desk; the request repeats the block's current watch.
void write_resync_request(BlockView v, bool resync_lv1);

// desk_ip + "/" + the bank upper-cased.
std::string group_cache_key_of(BlockView v, std::string_view group);

// Distinct banks for the reroute page (see StatusLink::list_reroute_groups).
size_t reroute_groups_of(BlockView v, char (*out)[kBankBytes], uint32_t* counts, size_t max);

// ---- the lasting views --------------------------------------------------------------------------

enum class TrayState : uint8_t { idle = 0, linked = 1, attention = 2, unreachable = 3 };

// Where the link's inputs come from. Production binds the product's names, the system clock,
// lv1_running and the load watch's flag; tests bind their own.
struct StatusLinkEnv {
  std::string status_base = kStatusBlockBaseName;  // + "" or "-x32"
  std::string loader_name = kLoaderBlockName;
  Clock* clock = nullptr;             // null: the system clock
  std::function<bool()> lv1_running;  // null: lv1_running(system_lv1())
  std::function<bool()> blocked;      // the load watch's verdict; null: false
  std::function<int()> log_problems;  // the tray shell's count; null: 0
};

class StatusLink {
public:
  explicit StatusLink(StatusLinkEnv env = {});
  ~StatusLink();
  StatusLink(const StatusLink&) = delete;
  StatusLink& operator=(const StatusLink&) = delete;

  bool attach(int index);
  bool select();
  void detach_all();
  bool attached(int index) const;
  BlockView view(int index) const;
  static bool alive(BlockView v);

  int active_console() const { return active_; }
  // The console tabs: makes that console's block the shown one when its view exists. select()
  // keeps it while it stays attached and alive, as it keeps any active block.
  bool show_console(int index);
  BlockView active_view() const { return view(active_); }
  bool module_too_old() const { return too_old_; }

  TrayState tray_state();
  TrayState last_tray_state() const { return last_state_; }

  // One-shot copies through a read-only mapping, holding nothing afterwards.
  StatusSnapshot read_status_snapshot(std::string_view suffix) const;
  bool read_desk_line(std::string_view suffix, char* out, size_t size) const;
  bool read_loader_block(uint8_t (&out)[kLoaderBlockSize]) const;

  // Commands on the active block. The reply comes as UTF-8.
  uint32_t post_command(uint32_t op, int32_t channel, uint32_t arg, double value,
                        std::string_view group = {}, uint32_t arg2 = 0);
  bool command_result(uint32_t seq, uint32_t* result, std::string* reply);
  std::string command_refusal_text(uint32_t op, int32_t channel);

  // The dashboard's pending action.
  void post_pending_command(uint32_t op, int32_t channel, uint32_t arg, double value);
  uint32_t action_seq() const { return action_seq_; }
  const std::string& action_reply() const { return action_reply_; }

  void post_watch_request(std::string_view group, uint32_t base, uint32_t count);
  void status_post_request(std::string_view suffix, bool resync_lv1) const;
  std::string group_cache_key(std::string_view group) const;
  size_t list_reroute_groups(char (*out)[kBankBytes], uint32_t* counts, size_t max) const;

private:
  uint64_t now64();
  std::string status_name(std::string_view suffix) const;

  StatusLinkEnv env_;
  std::unique_ptr<SharedMemory> slot_[2];
  int active_ = 0;
  bool too_old_ = false;
  uint64_t last_attempt_ = 0;
  bool attempted_ = false;
  int lv1_misses_ = 0;
  TrayState last_state_ = TrayState::idle;
  uint32_t action_seq_ = 0;
  std::string action_reply_;
};

// The status-block suffix of a console index ("" WING, "-x32" X32/M32).
const char* status_suffix(int index);

}  // namespace ks::tray
