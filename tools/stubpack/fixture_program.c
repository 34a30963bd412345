/* The smallest Windows program: the tests of the packaging tool sign and pack it, as a stand-in
   for the stub, in both PE formats (PE32 from i686, PE32+ from x86_64). Like the stub, it carries
   an empty trust slot for the packer to fill: the marker, version 1, nothing pinned. */
__attribute__((used)) const volatile unsigned char sorvaneTrustSlot[512] = {
    'S', 'o', 'r', 'v', 'a', 'n', 'e', 'T', 'r', 'u', 's', 't', 'S', 'l', 'o', 't', 1};

int main(void) { return sorvaneTrustSlot[16] == 1 ? 0 : 1; }
