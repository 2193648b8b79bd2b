// Values enter the event service's SQL texts only through sqlLiteral: one
// single-quoted literal with every "'" doubled, so a value is stored exactly
// as received and can never end its literal or add a statement.
#pragma once
#include <string>

std::string sqlLiteral(const std::string& value);
