#include "sim/lv1/script_text.h"

namespace ks::sim {

std::string script_escaped(std::string_view text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

std::string script_unescaped(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
      out += '\n';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string card_setup_script(std::string_view box_line) {
  return "factory \"$BUNDLE\"\n" + std::string(box_line) +
         "\n"
         "listener b plain\n"
         "query b WavesIOBoxGain g\n"
         "query b WavesIOBoxWavesConsoleIO io\n"
         "host io\n"
         "mac b 0a1b2c3d4e5f\n";
}

}  // namespace ks::sim
