//WAVE FOR GAME BOY

const unsigned char empty[] =
{
	
};