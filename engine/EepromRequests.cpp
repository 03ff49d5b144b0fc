#include "RequestHandling.h"

namespace morlen {

void RequestHandler::AddEepromRows() {}

}  // namespace morlen
