// The OPN-2001 cycle on the desktop, with the delivery channel the settings
// choose.

#include "delivery/shop_delivery.h"
#include "links/opn_link.h"

namespace vt {

void TimerOPNTimer() {
    OpnCycle(ShopDelivery());
}

}  // namespace vt
