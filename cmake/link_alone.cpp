// The program that each layer of the component is linked into whole with the layers below it
// alone: a reference to a layer above it fails that link.
int main() { return 0; }
