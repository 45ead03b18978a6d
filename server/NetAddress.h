// Addresses of the service's listeners and their peers as the log gives them. No Qt here.
#pragma once

#include <utility>  // before Asio, whose C++20 headers use std::exchange

#include <boost/asio/ip/tcp.hpp>
#include <string>

namespace server {

// An IPv4 address mapped into IPv6 as the IPv4 address it is.
inline boost::asio::ip::address PlainAddress(const boost::asio::ip::address& a) {
    if (a.is_v6() && a.to_v6().is_v4_mapped()) {
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, a.to_v6());
    }
    return a;
}

// "192.168.0.10:50424", "[::1]:50424".
inline std::string DescribeEndpoint(const boost::asio::ip::tcp::endpoint& e) {
    const boost::asio::ip::address a = PlainAddress(e.address());
    return (a.is_v6() ? "[" + a.to_string() + "]" : a.to_string()) + ":" + std::to_string(e.port());
}

}  // namespace server
