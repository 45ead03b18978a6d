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

// Opens, binds and listens on at (the address may be taken again at once after a restart); false
// with "cannot listen on ADDR:PORT: why", the acceptor closed.
inline bool Listen(boost::asio::ip::tcp::acceptor& acceptor,
                   const boost::asio::ip::tcp::endpoint& at, std::string& error) {
    boost::system::error_code ec;
    acceptor.open(at.protocol(), ec);
    if (!ec) {
        acceptor.set_option(boost::asio::ip::tcp::acceptor::reuse_address(true), ec);
        acceptor.bind(at, ec);
    }
    if (!ec) {
        acceptor.listen(boost::asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        error = "cannot listen on " + DescribeEndpoint(at) + ": " + ec.message();
        boost::system::error_code closeEc;
        acceptor.close(closeEc);
        return false;
    }
    return true;
}

// The port a listening acceptor is bound to; 0 when it is not.
inline int BoundPort(const boost::asio::ip::tcp::acceptor& acceptor) {
    boost::system::error_code ec;
    const boost::asio::ip::tcp::endpoint e = acceptor.local_endpoint(ec);
    return ec ? 0 : e.port();
}

}  // namespace server
