// The root handle made by InternetOpenA: how its connections reach servers (directly or through a
// gateway) and how its notifications are delivered.
#pragma once

#include <memory>
#include <string>

#include "delivery.h"
#include "handles.h"
#include "proxy.h"

namespace inet {

class Session final : public Handle {
 public:
  Session(bool async, ProxySettings proxy, std::shared_ptr<Delivery> delivery)
      : Handle(HandleKind::Root, 0, nullptr),
        async(async),
        proxy(std::move(proxy)),
        delivery_(std::move(delivery)) {
    session_ = this;
  }

  const bool async;
  const ProxySettings proxy;
  Delivery& delivery() const { return *delivery_; }

 private:
  std::shared_ptr<Delivery> delivery_;
};

}  // namespace inet
