// Someone else's program, built against the installed libtorvel through
// pkg-config or CMake's find_package: issues a CA certificate, reads it
// back, and looks for signature blocks in a file.

#include <iostream>

#include <torvel/torvel.h>

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::cerr << "usage: " << argv[0] << " KEY CERTIFICATE FILE\n";
        return 2;
    }
    if (make_ca_certificate(argv[2], argv[1], "Linked Root") != 0)
        return 1;
    const PackageSignatures::Certificate certificate =
        PackageSignatures::Certificate::readCertificateFromFile(argv[2]);
    const std::unique_ptr<PackageSignatures::FileWithCmses> file = PackageSignatures::FileWithCmses::fromPath(argv[3]);
    if (!file)
        return 1;
    std::cout << certificate.subject() << '\n'
              << certificate.keyId() << '\n'
              << file->cmses().size() << " signature blocks\n";
    return 0;
}
