// Entry point of the kelpie window program.
int main() { return 0; }
