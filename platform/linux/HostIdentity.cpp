#include "HostIdentity.h"

#include "SystemFiles.h"
#include "snapshot/TextScan.h"

namespace quorvane {

DmiReader::DmiReader(std::string root, std::string credentials)
    : root_(std::move(root)), credentials_(std::move(credentials)) {}

DmiInfo DmiReader::read() const {
    const SystemFiles files(root_);
    const std::string directory = "/sys/class/dmi/id/";
    DmiInfo info;
    info.systemVendor = files.readValue(directory + "sys_vendor");
    info.productName = files.readValue(directory + "product_name");
    info.biosVendor = files.readValue(directory + "bios_vendor");
    info.biosVersion = files.readValue(directory + "bios_version");
    info.biosDate = files.readValue(directory + "bios_date");
    info.productSerial = files.readValue(directory + "product_serial");
    if (!info.productSerial && !credentials_.empty()) {
        info.productSerial = readValueAt(credentials_ + "/product_serial");
    }
    return info;
}

HostNames parseHostNames(const std::optional<std::string>& kernelHostName,
                         const std::optional<std::string>& resolvConf,
                         const std::optional<std::string>& nisDomain) {
    HostNames names;
    std::string dnsDomain;
    if (kernelHostName && !kernelHostName->empty() && *kernelHostName != "(none)") {
        const std::size_t dot = kernelHostName->find('.');
        names.name = kernelHostName->substr(0, dot);
        if (dot != std::string::npos) {
            dnsDomain = kernelHostName->substr(dot + 1);
        }
        if (names.name->empty()) {
            names.name.reset();
        }
    }
    if (dnsDomain.empty() && resolvConf) {
        forEachLine(*resolvConf, [&dnsDomain](std::string_view line) {
            std::size_t position = 0;
            const std::string_view keyword = nextWord(line, position);
            const std::string_view value = nextWord(line, position);
            // The last "domain" line wins, as for the resolver.
            if (keyword == "domain" && !value.empty()) {
                dnsDomain = value;
            }
        });
    }
    while (!dnsDomain.empty() && dnsDomain.back() == '.') {
        dnsDomain.pop_back();
    }
    if (!dnsDomain.empty()) {
        names.domain = dnsDomain;
    } else if (nisDomain && !nisDomain->empty() && *nisDomain != "(none)") {
        names.domain = *nisDomain;
    }
    return names;
}

HostNameReader::HostNameReader(std::string root) : root_(std::move(root)) {}

HostNames HostNameReader::read() const {
    const SystemFiles files(root_);
    return parseHostNames(files.readValue("/proc/sys/kernel/hostname"),
                          files.readText("/etc/resolv.conf"),
                          files.readValue("/proc/sys/kernel/domainname"));
}

}  // namespace quorvane
