// The X32/M32's fixed numbering and scales: which head amp an input is, how gain travels on the
// wire, which preamps feed the card, what the AES50 status string says and which models carry
// local preamps. Pure functions; nothing here touches the network.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ks {

constexpr int kX32HeadAmps = 128;
constexpr double kX32GainMin = -12.0;
constexpr double kX32GainMax = 60.0;
constexpr double kX32GainStep = 0.5;

// Head amp 0..127 of bank "AN" 1..32, "A" 1..48 or "B" 1..48 (case-insensitive); -1 for any
// other input.
int x32_headamp_index(const char* bank, int n);

// The bank and input of head amp 0..127; false for any other number.
bool x32_headamp_input(int index, const char** bank, int* n);

// Gain in dB -> the desk's 0..1 value, clamped. NaN goes to the bottom of the range.
float x32_gain_to_wire(double db);

// The desk's 0..1 value -> dB. False for a value that is not finite or outside 0..1: the desk
// never sends one, so it is damage, and it must not reach LV1.
bool x32_gain_from_wire(double f, double* db);

// One step of reading the card patch: the source value of a block of eight card inputs says
// either which preamp feeds input n directly, or which user-routing entry to read next.
struct X32Route {
  enum Kind { direct, user_out, user_in } kind;
  const char* bank;  // direct: "AN", "A", "B" or "OUT"
  uint32_t n;        // direct: input number in that bank
  int entry;         // user_out 1..48, user_in 1..32
};

// Card input n (1..32) of a block whose source value is v.
X32Route x32_card_route(int v, uint32_t n);

// The user-routing entry value u for card input n: "AN" 1..32, "A" 1..48, "B" 1..48 or "OUT" n.
X32Route x32_user_route(int u, uint32_t n);

// The four card-routing blocks: block k (0..3) covers card inputs 8k+1 .. 8k+8.
const char* x32_card_block_address(int k);
int x32_card_block_of_address(const char* address);  // -1 when not one of the four

// The digit the AES50 status string gives input n (1..48) of its port: the box type there.
// Past the end of the string, or not a digit: 0.
int x32_aes50_digit(const char* status, int n);

// Whether the status string says a device is on the port: 0 when its first four characters are
// spaces (or it is shorter), else 1.
int x32_aes50_present(const char* status);

// The model field of an identity line "X32,ip,name,model,version": the text between the
// second-last and the last comma, cut to cap - 1. False (and "") without such a field.
bool x32_identity_model(const char* identity, char* out, size_t cap);

// Head-amp type of local input n ("AN") for a model: 0 no preamp, 3 a local preamp.
uint32_t x32_local_preamp_type(const char* model, int n);

// Parses a decimal number of 1..max_digits digits filling [p, end) exactly; false otherwise.
bool x32_parse_number(const char* p, const char* end, int max_digits, int* out);

}  // namespace ks
