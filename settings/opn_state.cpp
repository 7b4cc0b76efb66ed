#include "settings/opn_state.h"

namespace vt {

opnstruct opn;

}  // namespace vt
