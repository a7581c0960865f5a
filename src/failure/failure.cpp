#include "failure/failure.h"

namespace quorvel {

void fail(std::string message, std::source_location where) {
  (void)where;
  throw Failure(std::move(message));
}

}  // namespace quorvel
