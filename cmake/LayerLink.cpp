// Linked with one layer whole and the layers below it: that it links at all is the proof.
int main()
{
    return 0;
}
