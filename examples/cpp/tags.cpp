// Lists the Gen2 tags a network reader sees, then writes two words of the
// first tag's user memory and reads them back.
// Usage: tags HOST PORT   (e.g. tags 127.0.0.1 6000)
#include <cstdlib>
#include <iostream>

#include <morvent.hpp>

int main(int argc, char** argv) {
    const std::string host = argc > 1 ? argv[1] : "127.0.0.1";
    const int port = argc > 2 ? std::atoi(argv[2]) : 6000;
    try {
        // Closed again when `reader` goes out of scope.
        auto reader = morvent::Reader::tcp(host, port);

        const std::vector<morvent::Tag> tags = reader.inventory();
        for (const morvent::Tag& tag : tags) std::cout << "EPC " << tag.epcHex() << "\n";
        if (tags.empty()) return 0;

        // A Tag addresses itself by its EPC; the password defaults to 0.
        reader.write(tags[0], morvent::Bank::User, 0, {0xCA, 0xFE, 0xF0, 0x0D});
        const morvent::Bytes words = reader.read(tags[0], morvent::Bank::User, 0, 2);
        std::cout << "user memory of " << tags[0].epcHex() << ": " << morvent::hex(words) << "\n";
    } catch (const morvent::Error& error) {
        // e.g. "OpenNetPort: MORVENT_COMM_ERROR (0x30): link failure, ..."
        std::cerr << error.what() << "\n";
        return 1;
    }
    return 0;
}
