// Host foundation library: message ids, the exception hierarchy and the exception template.
#pragma once

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "host/tzboost.hpp"

#pragma GCC visibility push(default)

namespace resource_core {

// A message id: arguments for the message, the catalog and the key within it.
struct BaseMsgID {
    std::vector<std::string> args;
    std::string catalog;
    std::string key;
};

}  // namespace resource_core

namespace foundation::core::except {

class IException : public tzboost::exception_detail::clone_base, public tzboost::exception {
  public:
    IException();
    IException(const IException& other);
    IException& operator=(const IException&) = delete;
    ~IException() noexcept override;
    // The catalog message of the exception, in UTF-8.
    virtual const char* what() const noexcept;

  private:
    mutable std::string whatText_;
};

class IUserException : public IException {
  public:
    virtual std::u16string convert_str(const std::string& text) const;
    virtual std::string convert_str(const std::u16string& text) const;
    virtual std::u16string ToUstringImpl() const;
    // The error identifier, such as "Korvex:cumsum:wrongFlag".
    virtual std::string GetIdentifier() const = 0;
};

class IMsgIDException : public IUserException {
  public:
    virtual std::u16string GetUnicodeMessageTxt() const;
    virtual const resource_core::BaseMsgID& GetMsgID() const = 0;

    // The identifier stored for an identifier text, and the one derived from a message id
    // alone ("catalog:key").
    static std::string get_error_id(const std::string& identifier);
    static std::string get_error_id(const resource_core::BaseMsgID& msgId);
};

// The catalog message of a message id, in UTF-16.
std::u16string catalogMessage(const resource_core::BaseMsgID& msgId);

template <class Tag, class Base, class Extra>
class Exception;

// One exception type per reason; `Tag` is an empty class that only names the reason.
template <class Tag>
class Exception<Tag, std::exception, void> : public IMsgIDException, public std::exception {
  public:
    Exception(const std::string& identifier, resource_core::BaseMsgID msgId)
        : msgId_(std::move(msgId)), identifier_(get_error_id(identifier)) {}
    explicit Exception(resource_core::BaseMsgID msgId)
        : msgId_(std::move(msgId)), identifier_(get_error_id(msgId_)) {}
    Exception(const Exception& other)
        : IMsgIDException(other),
          std::exception(other),
          msgId_(other.msgId_),
          identifier_(other.identifier_) {}
    Exception& operator=(const Exception&) = delete;
    ~Exception() noexcept override = default;

    [[nodiscard]] const tzboost::exception_detail::clone_base* clone() const override {
        return new Exception(*this);
    }
    [[noreturn]] void rethrow() const override { throw Exception(*this); }
    const char* what() const noexcept override { return IException::what(); }
    std::string GetIdentifier() const override { return identifier_; }
    const resource_core::BaseMsgID& GetMsgID() const override { return msgId_; }

  private:
    resource_core::BaseMsgID msgId_;
    std::string identifier_;
};

}  // namespace foundation::core::except

namespace foundation::ustring {

class CtypeExceptionBase : public std::exception {};

// Raised by character classification for a code unit outside ASCII.
class CtypeInvalidCharacter : public CtypeExceptionBase {
  public:
    const char* what() const noexcept override;
};

}  // namespace foundation::ustring

#pragma GCC visibility pop
