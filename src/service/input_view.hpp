#ifndef VANTREL_SERVICE_INPUT_VIEW_HPP
#define VANTREL_SERVICE_INPUT_VIEW_HPP

#include <cstdint>
#include <string>
#include <vector>

/// One sender that drives an input's universe.
struct InputSourceState {
  int universe = 0;      ///< sACN universe or Art-Net port-address
  std::string address;   ///< dotted IPv4
  std::string cid;       ///< sACN: the CID; Art-Net: empty
  std::string name;      ///< sACN: the source name; Art-Net: empty
  int priority = -1;     ///< sACN: 0..200; Art-Net: -1
};

/// What an input (a lighting console's protocol) shows an operator: who
/// drives it, and what became of the datagrams it received.
struct InputState {
  std::string input;  ///< "sacn" or "artnet"
  std::vector<InputSourceState> sources;
  std::uint64_t taken = 0, malformed = 0, ignored = 0, late = 0, refused = 0;
};

/// An input's face for an operator: a front end that owns inputs offers it
/// (FrontEnd::inputViews()) to those that show them (the control page).
/// inputState() is called from any front end's thread.
class InputView {
 public:
  virtual InputState inputState() const = 0;

 protected:
  ~InputView() = default;
};

#endif
