// tallyport-readersim: a card reader on a pseudo-terminal, for trying and
// testing Tallyport without hardware.
#include "Simulator.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kHelp[] = R"(Usage: tallyport-readersim [options]

Serves a pseudo-terminal that behaves like a serial card reader of one of
Tallyport's six reader types. The first line printed on standard output is
the port's path (for example /dev/pts/5); point Tallyport at it, or at the
--link path.

The reader answers requests addressed to its own ID (types A, C, D and E also
answer a connect addressed to 00), in its type's framing, and only while the
port is set to its baud rate. It answers at once,
each reply in one write. Everything else gets no answer.

Options:
  --type A..F        reader type (default A)
  --id NN            reader ID, two hexadecimal digits (default 01); type F
                     reports it as one byte, ID 25 as 0x25
  --serial SSSSSSSS  serial number, eight characters (default 12345678)
  --baud N           the reader's rate (default 115200 for type B, 19200 for
                     the others)
  --mode D           type B mode digit reported to a mode query (default 1)
  --link PATH        keep a symbolic link PATH to the port; an existing link is
                     replaced atomically; removed at exit and while hung up
  --cards LIST       comma-separated hexadecimal cards presented in turn,
                     starting with the first poll: each lies on the reader for
                     the period, then the reader is empty for the gap
  --period MS        how long each card of a list stays (default 1000)
  --gap MS           the empty time after each card of a list (default half
                     the period)
  --repeat           cycle the list for ever (otherwise the reader stays empty
                     after the last card)
  --log              print every request, reply and ignored request to
                     standard error, with the time since start
  --no-stdin         take no commands from standard input
  --help             print this help

Standard input, one command per line, each answered on standard output with
"ok" or a line starting with "error:":
  card HEX           put a card on the reader; it stays until removed
  remove             take the card (or the running list) away
  field TEXT         put a faulty card on the reader (types A to E): TEXT is
                     sent as the card field as it is, \xNN standing for any
                     byte and \\ for a backslash (field 12\x0034567 holds a
                     zero byte); the checksum covers every byte
  cards HEX,HEX,...  present cards in turn, as --cards does
  period MS, gap MS, repeat on|off
                     timing of later card lists
  silent on|off      ignore every request
  badsum on|off      replies carry a wrong checksum
  lowercase on|off   checksum digits in lower case (types A to E)
  noise on|off       two junk bytes ("AB") before each reply
  flood N            answer the next request with N junk bytes instead (no
                     byte of them starts a reply frame)
  status0 on|off     type F replies carry status 0
  hangup [MS]        close the port: programs using it see it vanish; with MS,
                     come back after MS milliseconds on a new port, printing
                     its path and re-pointing --link at it
  return             come back now (prints the new path, then ok)
  id NN, type X, baud N, serial S, mode D
                     change the reader; without --baud or baud, a new type
                     brings its own rate
  log on|off         as --log
  stats              print "requests N replies N ignored N"
  quit               exit
Lines starting with # are skipped.

Exit: status 0 on SIGTERM, SIGINT, SIGHUP, quit, or the end of standard input
when that is a terminal or a pipe. Input from a file or /dev/null is read to
its end and the reader keeps serving, so in a script

    tallyport-readersim --type C --id 07 --link /tmp/reader > /tmp/reader.path &

runs until killed. With --no-stdin standard input is never read; use it too
for a job put in the background of an interactive shell, which would be
stopped when it reads the terminal.
)";

bool TakesValue(const std::string& name)
{
    return name != "--repeat" && name != "--log" && name != "--no-stdin" && name != "--help";
}

// Applies one option; returns an error text, empty when it is good.
std::string Apply(sim::Options& options, const std::string& name, const std::string& value)
{
    std::string error;
    if (name == "--type") {
        if ((error = sim::checkType(value)).empty())
            options.reader.type = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
    } else if (name == "--id") {
        if ((error = sim::checkId(value)).empty())
            options.reader.id = value;
    } else if (name == "--serial") {
        if ((error = sim::checkSerial(value)).empty())
            options.reader.serial = value;
    } else if (name == "--baud") {
        error = sim::checkBaud(value, &options.baud);
    } else if (name == "--mode") {
        if ((error = sim::checkMode(value)).empty())
            options.reader.mode = value[0];
    } else if (name == "--link") {
        if (value.empty())
            error = "--link needs a path";
        options.link = value;
    } else if (name == "--cards") {
        error = sim::checkCards(value, &options.cards);
    } else if (name == "--period") {
        error = sim::checkMilliseconds(value, &options.periodMs);
        if (error.empty() && options.periodMs == 0)
            error = "the period must be at least 1 ms";
    } else if (name == "--gap") {
        error = sim::checkMilliseconds(value, &options.gapMs);
    } else if (name == "--repeat") {
        options.repeat = true;
    } else if (name == "--log") {
        options.log = true;
    } else if (name == "--no-stdin") {
        options.noStdin = true;
    } else {
        error = "unknown option " + name;
    }
    return error;
}

}  // namespace

int main(int argc, char** argv)
{
    sim::Options options;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        if (name == "--help" || name == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (const std::size_t equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.erase(equals);
        } else if (TakesValue(name)) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "tallyport-readersim: %s needs a value (see --help)\n", name.c_str());
                return 2;
            }
            value = argv[++i];
        }
        if (const std::string error = Apply(options, name, value); !error.empty()) {
            std::fprintf(stderr, "tallyport-readersim: %s (see --help)\n", error.c_str());
            return 2;
        }
    }
    return sim::Simulator(options).run();
}
