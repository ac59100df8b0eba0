// Firmware and names: /sys/class/dmi/id, the kernel's host and domain names, /etc/resolv.conf.
#pragma once

#include <optional>
#include <string>

namespace quorvane {

// Firmware tables as the kernel exposes them; a file that is missing or unreadable (the serial
// numbers are readable only by root) is absent.
struct DmiInfo {
    std::optional<std::string> systemVendor;
    std::optional<std::string> productName;
    std::optional<std::string> biosVendor;
    std::optional<std::string> biosVersion;
    std::optional<std::string> biosDate;
    std::optional<std::string> productSerial;
};

class DmiReader {
  public:
    // `credentials`, when not empty, is a directory of credentials the service manager handed in
    // (systemd's $CREDENTIALS_DIRECTORY): its "product_serial" stands in for the serial number
    // file when that cannot be read, as when the agent runs as a user of its own.
    explicit DmiReader(std::string root, std::string credentials = std::string());
    DmiInfo read() const;

  private:
    std::string root_;
    std::string credentials_;
};

struct HostNames {
    std::optional<std::string> name;    // the host name's first label
    std::optional<std::string> domain;  // DNS domain, else NIS domain
};

// The DNS domain is the rest of a fully qualified host name, else resolv.conf's "domain" line;
// the NIS domain counts only when set ("(none)" means unset). No name service is asked: a
// stalled resolver must not hold the refresh.
HostNames parseHostNames(const std::optional<std::string>& kernelHostName,
                         const std::optional<std::string>& resolvConf,
                         const std::optional<std::string>& nisDomain);

class HostNameReader {
  public:
    explicit HostNameReader(std::string root);
    HostNames read() const;

  private:
    std::string root_;
};

}  // namespace quorvane
