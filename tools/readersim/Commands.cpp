// Values of options and run-time commands, and the run-time commands.
#include "Simulator.h"

#include <cctype>
#include <chrono>
#include <sstream>

namespace sim {

namespace {

bool AllOf(const std::string& text, int (*test)(int))
{
    for (char c : text)
        if (!test(static_cast<unsigned char>(c)))
            return false;
    return true;
}

int IsGraph(int c)
{
    return c > 0x20 && c < 0x7F;
}

std::string CheckCard(const std::string& card)
{
    if (card.empty() || card.size() > 64 || !AllOf(card, std::isxdigit))
        return "a card is 1 to 64 hexadecimal digits, not '" + card + "'";
    return {};
}

// TEXT with \xNN and \\ decoded, for the `field` command.
std::string Unescape(const std::string& text, std::string* out)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\\') {
            bytes += '\\';
            ++i;
        } else if (i + 3 < text.size() && text[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(text[i + 2]))
                   && std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            bytes += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            return "a backslash starts \\xNN or \\\\ in '" + text + "'";
        }
    }
    if (bytes.empty() || bytes.size() > 64)
        return "a field is 1 to 64 bytes";
    *out = bytes;
    return {};
}

}  // namespace

std::string checkType(const std::string& value)
{
    if (value.size() != 1 || std::toupper(static_cast<unsigned char>(value[0])) < 'A'
        || std::toupper(static_cast<unsigned char>(value[0])) > 'F')
        return "the type is one of A, B, C, D, E, F";
    return {};
}

std::string checkId(const std::string& value)
{
    if (value.size() != 2 || !AllOf(value, std::isxdigit))
        return "the reader ID is two hexadecimal digits, as 07";
    return {};
}

std::string checkSerial(const std::string& value)
{
    if (value.size() != 8 || !AllOf(value, IsGraph))
        return "the serial number is eight printable characters";
    return {};
}

std::string checkMode(const std::string& value)
{
    if (value.size() != 1 || !std::isdigit(static_cast<unsigned char>(value[0])))
        return "the mode is one digit";
    return {};
}

std::string checkBaud(const std::string& value, int* baud)
{
    if (value.empty() || value.size() > 7 || !AllOf(value, std::isdigit) || !supportedBaud(std::stoi(value)))
        return "not a baud rate the port can be set to: '" + value + "'";
    *baud = std::stoi(value);
    return {};
}

std::string checkMilliseconds(const std::string& value, int* ms)
{
    if (value.empty() || value.size() > 8 || !AllOf(value, std::isdigit))
        return "not a number of milliseconds: '" + value + "'";
    *ms = std::stoi(value);
    return {};
}

std::string checkCards(const std::string& value, std::vector<std::string>* cards)
{
    std::vector<std::string> list;
    std::stringstream stream(value);
    std::string card;
    while (std::getline(stream, card, ','))
        list.push_back(card);
    if (list.empty())
        return "no cards given";
    for (const std::string& each : list)
        if (std::string error = CheckCard(each); !error.empty())
            return error;
    *cards = list;
    return {};
}

std::string Simulator::setSwitch(const std::string& name, const std::string& value)
{
    if (value != "on" && value != "off")
        return "error: " + name + " takes on or off";
    const bool on = value == "on";
    if (name == "silent")
        silent_ = on;
    else if (name == "badsum")
        style_.badsum = on;
    else if (name == "lowercase")
        style_.lowercase = on;
    else if (name == "noise")
        noise_ = on;
    else if (name == "status0")
        style_.status0 = on;
    else if (name == "log")
        options_.log = on;
    else if (name == "repeat")
        options_.repeat = on;
    return "ok";
}

std::string Simulator::execute(const std::string& line)
{
    std::istringstream words(line);
    std::string name, value, extra;
    words >> name >> value >> extra;
    if (name.empty() || name[0] == '#')
        return {};
    if (!extra.empty())
        return "error: too many words in '" + line + "'";

    auto fail = [](const std::string& error) { return "error: " + error; };
    auto needs = [&](bool wanted) { return wanted == !value.empty(); };

    if (name == "silent" || name == "badsum" || name == "lowercase" || name == "noise" || name == "status0"
        || name == "log" || name == "repeat")
        return setSwitch(name, value);

    if (name == "card" && needs(true)) {
        if (std::string error = CheckCard(value); !error.empty())
            return fail(error);
        cards_.hold(value);
    } else if (name == "field" && needs(true)) {
        std::string field;
        if (std::string error = Unescape(value, &field); !error.empty())
            return fail(error);
        cards_.hold(field);
    } else if (name == "remove" && needs(false)) {
        cards_.clear();
    } else if (name == "cards" && needs(true)) {
        std::vector<std::string> list;
        if (std::string error = checkCards(value, &list); !error.empty())
            return fail(error);
        cards_.play(list, options_.periodMs, gapMs(), options_.repeat);
    } else if ((name == "period" || name == "gap") && needs(true)) {
        int ms = 0;
        if (std::string error = checkMilliseconds(value, &ms); !error.empty())
            return fail(error);
        if (name == "period" && ms == 0)
            return fail("the period must be at least 1 ms");
        (name == "period" ? options_.periodMs : options_.gapMs) = ms;
    } else if (name == "flood" && needs(true)) {
        int count = 0;
        if (checkMilliseconds(value, &count).empty() && count > 0 && count <= 1000000)
            flood_ = count;
        else
            return fail("flood takes a byte count from 1 to 1000000");
    } else if (name == "hangup") {
        int ms = 0;
        if (!value.empty() && !checkMilliseconds(value, &ms).empty())
            return fail("hangup takes no value or a number of milliseconds");
        if (!pty_.isOpen())
            return fail("already hung up");
        hangup();
        if (!value.empty())
            returnAt_ = Clock::now() + std::chrono::milliseconds(ms);
    } else if (name == "return" && needs(false)) {
        if (pty_.isOpen())
            return fail("not hung up");
        std::string error;
        if (!appear(&error))
            return fail(error);
    } else if (name == "id" && needs(true)) {
        if (std::string error = checkId(value); !error.empty())
            return fail(error);
        options_.reader.id = value;
    } else if (name == "type" && needs(true)) {
        if (std::string error = checkType(value); !error.empty())
            return fail(error);
        options_.reader.type = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
        assembler_.reset(framingOf(options_.reader.type));
    } else if (name == "baud" && needs(true)) {
        if (std::string error = checkBaud(value, &options_.baud); !error.empty())
            return fail(error);
    } else if (name == "serial" && needs(true)) {
        if (std::string error = checkSerial(value); !error.empty())
            return fail(error);
        options_.reader.serial = value;
    } else if (name == "mode" && needs(true)) {
        if (std::string error = checkMode(value); !error.empty())
            return fail(error);
        options_.reader.mode = value[0];
    } else if (name == "stats" && needs(false)) {
        return "requests " + std::to_string(requests_) + " replies " + std::to_string(replies_) + " ignored "
            + std::to_string(ignored_);
    } else if (name == "quit" && needs(false)) {
        quit_ = true;
    } else {
        return fail("unknown command '" + line + "' (see --help)");
    }
    return "ok";
}

}  // namespace sim
