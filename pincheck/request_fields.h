// The request of a PIN check arrives as one JSON-shaped text. The service always writes the
// fields the program reads as quoted name/value pairs, so the reader only counts double quotes:
// it decodes no escapes and understands no numbers, literals or nesting.
#pragma once

#include <map>
#include <string>

namespace pincheck {

class RequestFields {
  public:
    // Never fails: any text, empty or malformed, gives a table, possibly empty.
    explicit RequestFields(std::string request);
    // Names and values may hold the PIN; all of them are wiped.
    ~RequestFields();
    RequestFields(const RequestFields&) = delete;
    RequestFields& operator=(const RequestFields&) = delete;

    // The value of the field, as its bytes stood in the request. A field the request did not
    // hold reads as empty text, and from then on is held with that empty value.
    const std::string& get(const std::string& name);

    // The value of the field, or null when the request did not hold it; adds nothing.
    const std::string* find(const std::string& name) const {
        const auto it = fields_.find(name);
        return it == fields_.end() ? nullptr : &it->second;
    }
    std::size_t size() const { return fields_.size(); }

  private:
    std::map<std::string, std::string> fields_;
};

}  // namespace pincheck
