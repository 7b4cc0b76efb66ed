// The OPN-2001 cycle on the desktop: the shop's order form window and the
// clipboard and keystroke delivery of the delivery part.

#include "delivery/key_delivery.h"
#include "delivery/shop_window.h"
#include "links/opn_link.h"

namespace vt {
namespace {

class DesktopShop final : public ShopAccess {
  public:
    bool find_window(int shop) override { return FindShopWindow(shop); }
    bool bring_to_front() override { return BringShopToFront(); }
    bool deliver_line(int shop, const QString& line) override { return DeliverLine(shop, line); }
    bool paste_batch() override { return PasteBatch(); }
    bool await_last_paste() override { return AwaitLastPaste(); }
    void begin_batch() override { BatchLines.clear(); }
    void confirm_first_line() override { FirstLine = true; }
};

}  // namespace

void TimerOPNTimer() {
    DesktopShop shop;
    OpnCycle(shop);
}

}  // namespace vt
