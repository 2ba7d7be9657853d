#include "prepare/cartridges.h"

#include "diag/log.h"

INT CheckCartridges(const StatusRecord* pStatus) {
  LogMessage(LOG_INFORM, "In CheckCartridges\n");

  switch (CartState(*pStatus)) {
    case CART_STATE_INVALID:
      LogMessage(LOG_INFORM, "Invalid cartridge installed = %d\n",
                 static_cast<int>(pStatus->bCartStatus));
      return kCartridgeInvalid;
    case CART_STATE_MISSING:
      LogMessage(LOG_INFORM, "No cartridge installed\n");
      return kCartridgeMissing;
    default:
      LogMessage(LOG_INFORM, " ** Cartridges are ok\n");
      return kCartridgesOk;
  }
}
