// What the bridge pages need of the status link: the shown block, posting a command into its
// ring and reading a command's outcome. The live program binds StatusLink; tests bind a block
// in memory, so the same ring code runs in both.
#pragma once
#include <cstdint>
#include <string>

#include "shared/status_block.h"
#include "tray/services/status_link.h"

namespace ks::tray {

class BridgeLink {
public:
  virtual ~BridgeLink() = default;
  // The usable block of the shown console, or null.
  virtual const StatusBlock* block() = 0;
  // The sequence, or 0 with the text the page shows for the refusal.
  virtual uint32_t post(const CommandRequest& r, std::string* refusal) = 0;
  // True once the command was served; reply as UTF-8.
  virtual bool result(uint32_t seq, uint32_t* result, std::string* reply) = 0;
  // Whether console i's block is alive, and making it the shown one.
  virtual bool console_alive(int) { return false; }
  virtual void show_console(int) {}
};

// The refusal text of a post that returned 0, by why it was refused.
const char* refusal_text(PostRefusal why);

// Over one view of a block (a mapping, or memory laid out like one).
class BlockBridgeLink : public BridgeLink {
public:
  explicit BlockBridgeLink(BlockView v) : v_(v) {}
  const StatusBlock* block() override { return status_block_of(v_); }
  uint32_t post(const CommandRequest& r, std::string* refusal) override;
  bool result(uint32_t seq, uint32_t* result, std::string* reply) override;

private:
  BlockView v_;
};

// Over the tray program's StatusLink: the active console's block.
class StatusLinkBridge : public BridgeLink {
public:
  explicit StatusLinkBridge(StatusLink& link) : link_(link) {}
  const StatusBlock* block() override;
  uint32_t post(const CommandRequest& r, std::string* refusal) override;
  bool result(uint32_t seq, uint32_t* result, std::string* reply) override;
  bool console_alive(int i) override;
  void show_console(int i) override { link_.show_console(i); }

private:
  StatusLink& link_;
};

}  // namespace ks::tray
