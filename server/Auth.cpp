#include "server/Auth.h"

namespace server {

const char* RoleName(Role role) {
    return role == Role::Operator ? "operator" : role == Role::Viewer ? "viewer" : "";
}
bool ParseRole(const std::string& text, Role& role) {
    if (text == "operator" || text == "viewer") {
        role = text == "operator" ? Role::Operator : Role::Viewer;
        return true;
    }
    return false;
}
HashCost DefaultHashCost() {
    return {2, 32u << 20};
}
void SetHashCost(HashCost) {}

bool AuthFile::Load(const std::string&, AuthFile&, std::string& error, std::string*) {
    error = "not yet";
    return false;
}
bool AuthFile::Save(const std::string&, std::string& error, std::string*) const {
    error = "not yet";
    return false;
}
bool AuthFile::CheckPinText(const std::string&, std::string&) {
    return false;
}
bool AuthFile::SetPin(Role, const std::string&, std::string&) {
    return false;
}
bool AuthFile::HasPin(Role) const {
    return false;
}
Role AuthFile::CheckPin(const std::string&) const {
    return Role::None;
}
bool AuthFile::CheckTokenName(const std::string&, std::string&) {
    return false;
}
bool AuthFile::NewToken(const std::string&, std::string&, std::string&) {
    return false;
}
bool AuthFile::RevokeToken(const std::string&) {
    return false;
}
std::vector<std::string> AuthFile::TokenNames() const {
    return {};
}
std::optional<std::string> AuthFile::CheckToken(const std::string&) const {
    return {};
}

struct AuthGuard::Impl {};
AuthGuard::AuthGuard(std::string, Log) : m_impl(std::make_unique<Impl>()) {}
AuthGuard::~AuthGuard() = default;
bool AuthGuard::Open(std::string&) {
    return false;
}
bool AuthGuard::HasPin(Role) {
    return false;
}
AuthGuard::Login AuthGuard::TryLogin(const std::string&, const std::string&, int64_t) {
    return {};
}
void AuthGuard::Logout(const std::string&) {}
Role AuthGuard::Session(const std::string&, int64_t) {
    return Role::None;
}
Role AuthGuard::Bearer(const std::string&) {
    return Role::None;
}
std::optional<Role> AuthGuard::BearerCached(const std::string&) {
    return Role::None;
}
void AuthGuard::Reload() {}

}  // namespace server
