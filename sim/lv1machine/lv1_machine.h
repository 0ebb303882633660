// Lays out an LV1 machine's SoundGrid I/O-module folder as Waves ships it, and the older layouts
// of earlier installations on top, for the install tests and by hand (app/lv1machine.cpp).
//
// Each Waves card bundle ("SoundGrid Wing Control", "SoundGrid X-WSG Control",
// "SoundGrid DN32-WSG Control"):
//   <name>.ico
//   Contents\manifest.yaml
//   Contents\Win64\<name>.dll                  Waves' card module
//   Contents\Resources\APPINFO\<name>.yaml     "name: <name>" and "assignment_priority: 350.25"
//   Contents\Resources\VDID\1000               the card's device ids (kVdid: CR LF, LF with blanks
//                                              and an empty line, no line end at the end)
//   Contents\Resources\IOM_VERSION\1000
//   Contents\Resources\shared.txt             "shared from <name>": the same file in every bundle
//   Contents\Wfis\<name>.wfi
// The older layouts: our loader in place of Waves' WING module with Waves' kept beside it as
// "<name>.orig.dll" and a kestrune.cfg; the per-console bundles "Kestrune WING.bundle" in the
// folder and "Kestrune X32.bundle" in the disabled store, each with Contents\Win64\kestrune.cfg.
// Paths are joined with "\\" when the folder given has one, else with "/" (a native test tree).
#pragma once

#include <string>

namespace ks::sim {

inline constexpr const char* kCardBundles[3] = {"SoundGrid Wing Control", "SoundGrid X-WSG Control",
                                                "SoundGrid DN32-WSG Control"};
// The device-id files of the three cards, and their union as the installer writes it.
inline constexpr const char* kVdid[3] = {"0x0001\r\n0x0002\r\n", "0x0002\n0x0003  \n\n",
                                         "0x0003\r\n0x0004"};
inline constexpr char kVdidUnion[] = "0x0001\r\n0x0002\r\n0x0003\r\n0x0004\r\n";

struct Lv1Machine {
  std::string io_modules;  // Waves' SoundGrid IO Modules folder
  std::string disabled;    // the older layout's store of switched-off bundles
  // A DLL whose version resource names another product, copied in as each card module; empty:
  // the card modules already there are kept (a card without one gets none).
  std::string waves_dll;
  // Where no DLL is loaded (native trees): each card module is this text and the card's name.
  std::string waves_module_text;
  bool cards[3] = {true, true, true};
  // Our loader (a DLL whose version resource names "Kestrune") in place of Waves' WING module.
  std::string older_in_place_loader;
  std::string older_settings;  // its kestrune.cfg
  bool older_bundles = false;  // the two per-console bundles, the X32's switched off
};

// The fake modules this build made, as Windows paths: a DLL whose version resource names
// "KESTRUNE" (our own; the probe ignores case) and one that names Waves' product.
std::string own_module_dll();
std::string waves_module_dll();

// False with the reason when a file cannot be written.
bool lay_out_lv1_machine(const Lv1Machine& machine, std::string& why);

}  // namespace ks::sim
