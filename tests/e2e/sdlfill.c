// A small SDL2 program for the end-to-end tests: it fills its window green with a magenta
// square in the bottom-right corner, frame after frame, and prints on standard output
// "size <width> <height>" whenever the size it renders at changes and "frames <n>" after every
// hundred frames. Ends on SDL_QUIT. Like most games it takes no text input.
#include <SDL.h>

#include <stdio.h>

int main(void)
{
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "sdlfill: %s\n", SDL_GetError());
        return 1;
    }
    SDL_Window *window = SDL_CreateWindow("sdlfill", SDL_WINDOWPOS_UNDEFINED,
                                          SDL_WINDOWPOS_UNDEFINED, 200, 150, SDL_WINDOW_RESIZABLE);
    SDL_Renderer *renderer
        = window ? SDL_CreateRenderer(window, -1, SDL_RENDERER_PRESENTVSYNC) : NULL;
    if (!renderer) {
        fprintf(stderr, "sdlfill: %s\n", SDL_GetError());
        return 1;
    }
    // SDL 2 turns text input on at start; a game that takes no text turns it off, or the
    // on-screen keyboard comes up over it.
    SDL_StopTextInput();
    int width = -1;
    int height = -1;
    for (long frames = 1;; ++frames) {
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT)
                return 0;
        }
        int w, h;
        SDL_GetRendererOutputSize(renderer, &w, &h);
        if (w != width || h != height) {
            width = w;
            height = h;
            printf("size %d %d\n", width, height);
        }
        SDL_SetRenderDrawColor(renderer, 0, 255, 0, 255);
        SDL_RenderClear(renderer);
        SDL_SetRenderDrawColor(renderer, 255, 0, 255, 255);
        const SDL_Rect corner = { width - 20, height - 20, 20, 20 };
        SDL_RenderFillRect(renderer, &corner);
        SDL_RenderPresent(renderer);
        if (frames % 100 == 0)
            printf("frames %ld\n", frames);
        fflush(stdout);
    }
}
