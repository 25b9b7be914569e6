/* A library a test plug-in links against, built where the loader never
 * looks: the plug-in stands for one whose dependency is not installed. */
int qfxVanishedDependency(void) { return 1; }
