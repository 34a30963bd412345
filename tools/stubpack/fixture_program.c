/* The smallest Windows program: the tests of the packaging tool sign and pack it, as a stand-in
   for the stub, in both PE formats (PE32 from i686, PE32+ from x86_64). */
int main(void) { return 0; }
